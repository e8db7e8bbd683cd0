// SysEx messages made to order: F0, data bytes, F7.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testkit {

// The data between F0 and F7.
inline std::vector<uint8_t> frame(const std::vector<uint8_t> &data) {
    std::vector<uint8_t> bytes(data.size() + 2, 0xF7);
    bytes[0] = 0xF0;
    std::copy(data.begin(), data.end(), bytes.begin() + 1);
    return bytes;
}
inline std::vector<uint8_t> frame(const std::string &data) {
    return frame(std::vector<uint8_t>(data.begin(), data.end()));
}

// A message of length bytes: F0, code, data bytes below 0x80, F7.
inline std::vector<uint8_t> sysEx(size_t length, uint8_t code) {
    std::vector<uint8_t> bytes(length, 0xF7);
    bytes[0] = 0xF0;
    if (length > 1) bytes[1] = code;
    for (size_t i = 2; i + 1 < length; ++i) bytes[i] = static_cast<uint8_t>(i & 0x7F);
    return bytes;
}

}  // namespace testkit
