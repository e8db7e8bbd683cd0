#include "sysex_splitter.h"

namespace {

const uint8_t sysExStart = 0xF0;
const uint8_t sysExEnd = 0xF7;
const uint8_t firstRealTime = 0xF8;

}  // namespace

std::vector<device::Bytes> SysExSplitter::feed(const uint8_t *bytes, size_t count) {
    std::vector<device::Bytes> complete;
    for (size_t i = 0; i < count; ++i) {
        uint8_t byte = bytes[i];
        if (byte >= firstRealTime) continue;
        if (byte == sysExStart) {
            message_.assign(1, byte);
            inMessage_ = true;
            tooLong_ = false;
            continue;
        }
        if (!inMessage_) continue;
        if (byte < 0x80) {
            if (message_.size() < maxMessageBytes - 1) {
                message_.push_back(byte);
            } else {
                tooLong_ = true;
            }
            continue;
        }
        inMessage_ = false;
        if (byte == sysExEnd && !tooLong_) {
            message_.push_back(byte);
            complete.push_back(message_);
        }
        message_.clear();
    }
    return complete;
}
