// An input buffer as a program queues it: a MIDIHDR over `length` bytes,
// followed by guard bytes that no message may ever reach.
#pragma once

#include <algorithm>
#include <vector>

#include "platform/platform.h"

namespace testkit {

struct MidiInBuffer {
    static constexpr char guard = static_cast<char>(0xEE);
    std::vector<char> storage;
    MIDIHDR header = {};
    explicit MidiInBuffer(DWORD length) : storage(length + 8, guard) {
        header.lpData = storage.data();
        header.dwBufferLength = length;
    }
    std::vector<unsigned char> recorded() const {
        return std::vector<unsigned char>(storage.begin(), storage.begin() + header.dwBytesRecorded);
    }
    bool guardIntact() const {
        return std::all_of(storage.begin() + header.dwBufferLength, storage.end(), [](char c) { return c == guard; });
    }
};

}  // namespace testkit
