#include "double_config.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace winmm_double {

namespace {

std::string environment(const char *name, const char *fallback) {
    char value[1024];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    if (length == 0 || length >= sizeof value) return fallback;
    return std::string(value, length);
}

[[noreturn]] void refuse(const char *variable, const std::string &text) {
    std::fprintf(stderr, "winmm double: %s: cannot read '%s'\n", variable, text.c_str());
    std::fflush(stderr);
    ExitProcess(70);
}

std::vector<std::string> split(const std::string &text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

unsigned long number(const std::string &text, int base, unsigned long limit) {
    const char *variable = "TARNWICK_TEST_FAULTS";
    if (text.empty()) refuse(variable, text);
    char *end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, base);
    if (*end != '\0' || value > limit) refuse(variable, text);
    return value;
}

uint8_t code(const std::string &text) { return static_cast<uint8_t>(number(text, 16, 0xFF)); }
uint32_t count(const std::string &text) { return static_cast<uint32_t>(number(text, 10, 0xFFFFFFFFul)); }

std::vector<PortEntry> readPorts(const std::string &table) {
    std::vector<PortEntry> ports;
    for (std::string name : split(table, '|')) {
        bool held = !name.empty() && name[0] == '!';
        if (held) name.erase(0, 1);
        if (name.empty() || name.size() >= MAXPNAMELEN) refuse("TARNWICK_TEST_PORTS", table);
        ports.push_back({name, held, name.compare(0, 8, "Tarnwick") == 0});
    }
    return ports;
}

device::Faults readFaults(const std::string &list) {
    device::Faults faults;
    if (list.empty()) return faults;
    for (const std::string &item : split(list, ',')) {
        size_t equals = item.find('=');
        std::string key = item.substr(0, equals);
        std::string value = equals == std::string::npos ? std::string() : item.substr(equals + 1);
        bool hasValue = equals != std::string::npos;
        if (key == "silent" && !hasValue) {
            faults.silent = true;
        } else if (key == "latency" && hasValue) {
            faults.latencyMs = count(value);
        } else if (key == "handshake" && hasValue) {
            faults.handshakeCode = code(value);
        } else if (key == "verdicts" && hasValue) {
            for (const std::string &verdict : split(value, '/')) faults.verdictScript.push_back(code(verdict));
        } else if (key == "final-size" && hasValue) {
            faults.finalImageSize = count(value);
        } else if (key == "silent-after" && hasValue) {
            faults.silentAfterRecords = count(value);
        } else if (key == "fail-after" && hasValue) {
            faults.failAfterFrames = count(value);
        } else {
            refuse("TARNWICK_TEST_FAULTS", item);
        }
    }
    return faults;
}

}  // namespace

Config readConfig() {
    Config config;
    config.ports = readPorts(environment("TARNWICK_TEST_PORTS", "Tarnwick Box"));
    config.faults = readFaults(environment("TARNWICK_TEST_FAULTS", ""));
    config.imagePath = environment("TARNWICK_TEST_IMAGE", "");
    config.countersPath = environment("TARNWICK_TEST_COUNTERS", "");
    return config;
}

}  // namespace winmm_double
