#include "event_report.h"

#include <cstdio>

#include "base/wire_constants.h"

namespace {

std::string counted(size_t count, const char *noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string hexByte(uint8_t value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}

// The code of the box's answer, when it sent one of the F0 <code> F7 form.
std::optional<uint8_t> answeredCode(const device::FrameResult &result) {
    std::optional<uint8_t> code;
    for (const device::Outgoing &message : result.messages) {
        const device::Bytes &bytes = message.bytes;
        if (bytes.size() == 3 && bytes[0] == wire::sysExStart && bytes[2] == wire::sysExEnd) code = bytes[1];
    }
    return code;
}

std::string frameKind(const device::FrameResult &result, const device::Counters &before,
                      const device::Counters &after) {
    if (!result.accepted) return "refused (the box's input has failed)";
    if (after.handshakes != before.handshakes) return "handshake";
    if (after.damagedFrames != before.damagedFrames) return "damaged";
    if (after.ignoredFrames != before.ignoredFrames) return "ignored";
    return "transfer";
}

std::string handshakeLine(uint32_t number, std::optional<uint8_t> code) {
    std::string line = "handshake " + std::to_string(number) + ": ";
    if (!code) return line + "not answered";
    line += "answered " + hexByte(*code);
    if (*code == wire::productCode) return line + " (product code)";
    if (*code == wire::codeRestarting) return line + " (restarting)";
    return line + " (another product)";
}

std::string recordLine(const device::Counters &after, std::optional<uint8_t> code, bool written, bool resend,
                       size_t imageSize) {
    std::string line = "record attempt " + std::to_string(after.recordAttempts) + ": ";
    if (!code) {
        line += "not answered";
    } else if (*code == wire::codeAccepted) {
        line += "accepted (1A)";
    } else if (*code == wire::codeUpdateComplete) {
        line += "update complete (77)";
    } else {
        line += "rejected (" + hexByte(*code) + ")";
    }
    if (written) line += ", written, image " + std::to_string(imageSize) + " bytes";
    if (resend) line += ", a resend of the record written last, not written again";
    return line;
}

}  // namespace

std::string hexBytes(const device::Bytes &bytes) {
    const size_t shown = 12;
    std::string text;
    for (size_t i = 0; i < bytes.size() && i < shown; ++i) text += (i == 0 ? "" : " ") + hexByte(bytes[i]);
    if (bytes.size() > shown) text += " ...";
    return text;
}

std::vector<std::string> describeFrame(uint32_t frameNumber, const device::Bytes &frame,
                                       const device::FrameResult &result, const device::Counters &before,
                                       const device::Counters &after, size_t imageSize) {
    std::vector<std::string> lines;
    if (result.droppedRecordBytes != 0) {
        lines.push_back("record dropped: its frames stopped after " + counted(result.droppedRecordBytes, "byte") +
                        "; the next frame starts a new record");
    }
    lines.push_back("frame " + std::to_string(frameNumber) + ": " + std::to_string(frame.size()) + " bytes, " +
                    frameKind(result, before, after));
    std::optional<uint8_t> code = answeredCode(result);
    if (after.handshakes != before.handshakes) lines.push_back(handshakeLine(after.handshakes, code));
    if (after.recordAttempts != before.recordAttempts) {
        bool written = after.recordsWritten != before.recordsWritten;
        bool resend = after.resendsRecognised != before.resendsRecognised;
        lines.push_back(recordLine(after, code, written, resend, imageSize));
    }
    return lines;
}

std::optional<std::string> imageVerdict(const device::Bytes &image, const ImageExpectation &expected) {
    size_t wanted = expected.kit ? expected.kit->size() : expected.size ? *expected.size : 0;
    if (!expected.kit && !expected.size) return std::nullopt;
    if (expected.kit) {
        for (size_t i = 0; i < image.size() && i < wanted; ++i) {
            if (image[i] != (*expected.kit)[i]) return "differs from the kit at byte " + std::to_string(i);
        }
    }
    if (image.size() < wanted)
        return "incomplete, " + std::to_string(image.size()) + " of " + std::to_string(wanted) + " bytes";
    if (image.size() > wanted)
        return "too long, " + std::to_string(image.size()) + " bytes where " + std::to_string(wanted) +
               " were expected";
    return std::string("complete");
}

bool imageAsExpected(const device::Bytes &image, const ImageExpectation &expected) {
    std::optional<std::string> verdict = imageVerdict(image, expected);
    return !verdict || *verdict == "complete";
}

std::string summaryLine(const device::Counters &counters, const device::Bytes &image,
                        const ImageExpectation &expected) {
    std::string line =
        "summary: " + counted(counters.recordsWritten, "record") + " accepted, " + counted(image.size(), "byte");
    std::optional<std::string> verdict = imageVerdict(image, expected);
    if (verdict) line += ", image " + *verdict;
    return line + " (" + counted(counters.handshakes, "handshake") + ", " + counted(counters.frames, "frame") + ", " +
           counted(counters.recordAttempts, "record attempt") + ")";
}
