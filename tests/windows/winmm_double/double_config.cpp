#include "double_config.h"

#include <windows.h>

#include <cstdio>
#include <stdexcept>

#include "fault_text.h"

namespace winmm_double {

namespace {

std::string environment(const char *name, const char *fallback) {
    char value[1024];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    if (length == 0 || length >= sizeof value) return fallback;
    return std::string(value, length);
}

[[noreturn]] void refuse(const char *variable, const std::string &reason) {
    std::fprintf(stderr, "winmm double: %s: %s\n", variable, reason.c_str());
    std::fflush(stderr);
    ExitProcess(70);
}

std::vector<sim::PortEntry> readPorts(const std::string &table) {
    std::vector<sim::PortEntry> ports;
    for (std::string name : device::splitText(table, '|')) {
        bool held = !name.empty() && name[0] == '!';
        if (held) name.erase(0, 1);
        bool virtualPort = !name.empty() && name[0] == '~';
        if (virtualPort) name.erase(0, 1);
        if (name.empty() || name.size() >= MAXPNAMELEN) refuse("TARNWICK_TEST_PORTS", "cannot read '" + table + "'");
        ports.push_back({name, held, virtualPort});
    }
    return ports;
}

}  // namespace

Config readConfig() {
    Config config;
    config.inputs = readPorts(environment("TARNWICK_TEST_PORTS", "Tarnwick Box"));
    config.outputs = config.inputs;
    std::string stack = environment("TARNWICK_TEST_STACK", "winmm");
    if (stack == "midi-services" || stack == "midi-services-unfixed") {
        config.stack = sim::MidiStack::midiServices;
        config.narrowHandleFault = stack == "midi-services-unfixed";
        config.outputs.insert(config.outputs.begin(), {"Microsoft GS Wavetable Synth", false, false});
    } else if (stack != "winmm") {
        refuse("TARNWICK_TEST_STACK", "'" + stack + "' is neither winmm nor midi-services(-unfixed)");
    }
    try {
        config.faults = device::parseFaults(environment("TARNWICK_TEST_FAULTS", ""));
    } catch (const std::invalid_argument &e) {
        refuse("TARNWICK_TEST_FAULTS", e.what());
    }
    config.imagePath = environment("TARNWICK_TEST_IMAGE", "");
    config.countersPath = environment("TARNWICK_TEST_COUNTERS", "");
    return config;
}

}  // namespace winmm_double
