#include "support/wire_trace.h"

#include <cstdio>

namespace testkit {

std::string wireTrace(const std::vector<sim::SentFrame> &frames) {
    std::string trace;
    char text[32];
    for (const sim::SentFrame &frame : frames) {
        std::snprintf(text, sizeof text, "%6llu ms ", static_cast<unsigned long long>(frame.atMs));
        trace += text;
        for (uint8_t byte : frame.bytes) {
            std::snprintf(text, sizeof text, " %02X", byte);
            trace += text;
        }
        trace += '\n';
    }
    return trace;
}

std::string frameData(const sim::SentFrame &frame) {
    if (frame.bytes.size() < 2) return std::string();
    return std::string(frame.bytes.begin() + 1, frame.bytes.end() - 1);
}

}  // namespace testkit
