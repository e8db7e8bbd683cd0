#include "fault_text.h"

#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace device {

namespace {

// A whole number below 2^32 in these digits (base 0: 0x10 and 010 as well,
// as tarnwick-target's command line has always read them), or nothing. A
// minus sign makes a number too large, but for -0.
std::optional<uint32_t> wholeNumber(const std::string &text, int base) {
    char *end = nullptr;
    unsigned long long value = std::strtoull(text.c_str(), &end, base);
    if (text.empty() || *end != '\0' || value > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<uint32_t>(value);
}

uint32_t number(const std::string &text) {
    std::optional<uint32_t> value = wholeNumber(text, 0);
    if (!value) throw std::invalid_argument("'" + text + "' is not a number");
    return *value;
}

// Attempt numbers count from 1, as the box counts them.
uint32_t attempt(const std::string &text) {
    std::optional<uint32_t> value = wholeNumber(text, 10);
    if (!value || *value == 0) throw std::invalid_argument("'" + text + "' is not a number from 1");
    return *value;
}

bool flag(const std::string &key, const std::string &value) {
    if (!value.empty()) throw std::invalid_argument("'" + key + "' takes no value");
    return true;
}

// "N:MS" or "FIRST-LAST:MS".
void setLate(std::map<uint32_t, ReplyTweak> &tweaks, const std::string &value) {
    size_t colon = value.find(':');
    if (colon == std::string::npos) throw std::invalid_argument("'" + value + "' is not N:MS");
    std::string numbers = value.substr(0, colon);
    size_t dash = numbers.find('-');
    uint32_t first = attempt(numbers.substr(0, dash));
    uint32_t last = dash == std::string::npos ? first : attempt(numbers.substr(dash + 1));
    uint32_t latencyMs = number(value.substr(colon + 1));
    // n != 0: a range up to the largest number ends there.
    for (uint32_t n = first; n <= last && n != 0; ++n) tweaks[n].latencyMs = latencyMs;
}

bool isList(const std::string &key) {
    return key == "verdicts" || key == "no-reply" || key == "no-handshake-reply" || key == "late-reply" ||
           key == "late-handshake";
}

}  // namespace

uint8_t parseReplyCode(const std::string &text) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits = digits.substr(2);
    bool hex = !digits.empty() && digits.size() <= 2 &&
               digits.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
    if (!hex) throw std::invalid_argument("'" + text + "' is not a reply code (hexadecimal, such as 1A or 0x1A)");
    unsigned long value = std::stoul(digits, nullptr, 16);
    if (value > 0x7F) throw std::invalid_argument("reply code '" + text + "' is not a SysEx data byte (00 to 7F)");
    return static_cast<uint8_t>(value);
}

void setFault(Faults &faults, const std::string &key, const std::string &value) {
    if (key == "silent") {
        faults.silent = flag(key, value);
    } else if (key == "write-resends") {
        faults.writeResends = flag(key, value);
    } else if (key == "latency") {
        faults.latencyMs = number(value);
    } else if (key == "abandon-after") {
        faults.abandonRecordAfterMs = number(value);
    } else if (key == "handshake") {
        faults.handshakeCode = parseReplyCode(value);
    } else if (key == "handshake-again") {
        faults.handshakeAnsweredAgainAfterMs = number(value);
    } else if (key == "verdicts") {
        faults.verdictScript.push_back(parseReplyCode(value));
    } else if (key == "final-size") {
        faults.finalImageSize = number(value);
    } else if (key == "silent-after") {
        faults.silentAfterRecords = number(value);
    } else if (key == "fail-after") {
        faults.failAfterFrames = number(value);
    } else if (key == "long-replies") {
        size_t colon = value.find(':');
        if (colon == std::string::npos) throw std::invalid_argument("'" + value + "' is not N:HH");
        faults.replyLength = number(value.substr(0, colon));
        faults.replyFill = parseReplyCode(value.substr(colon + 1));
    } else if (key == "no-reply") {
        faults.recordReplies[attempt(value)].form = ReplyForm::none;
    } else if (key == "no-handshake-reply") {
        faults.handshakeReplies[attempt(value)].form = ReplyForm::none;
    } else if (key == "late-reply") {
        setLate(faults.recordReplies, value);
    } else if (key == "late-handshake") {
        setLate(faults.handshakeReplies, value);
    } else {
        throw std::invalid_argument("'" + key + "' is not a fault");
    }
}

Faults parseFaults(const std::string &text) {
    Faults faults;
    if (text.empty()) return faults;
    for (const std::string &item : splitText(text, ',')) {
        size_t equals = item.find('=');
        std::string key = item.substr(0, equals);
        std::string value = equals == std::string::npos ? std::string() : item.substr(equals + 1);
        if (!isList(key)) {
            setFault(faults, key, value);
            continue;
        }
        for (const std::string &element : splitText(value, '/')) {
            size_t star = element.rfind('*');
            uint32_t copies = star == std::string::npos ? 1 : attempt(element.substr(star + 1));
            for (uint32_t i = 0; i < copies; ++i) setFault(faults, key, element.substr(0, star));
        }
    }
    return faults;
}

std::vector<std::string> splitText(const std::string &text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

}  // namespace device
