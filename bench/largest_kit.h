// The benchmarks' kit: the largest a 16-bit count can hold, made by the kit
// tool's builder from a fixed pseudo-random firmware, in records of the usual
// payload size (T = 260 bytes) with a shorter last one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kit_builder.h"
#include "base/wire_constants.h"

namespace bench {

inline std::vector<uint8_t> largestKit() {
    std::vector<uint8_t> firmware(largestFirmwareFor(defaultPayloadSize));
    uint32_t seed = 1;
    for (uint8_t &byte : firmware) {
        seed = seed * 1103515245u + 12345u;
        byte = uint8_t(seed >> 16);
    }
    return buildRecords(firmware, defaultPayloadSize);
}

// One entry for each frame the updater sends for the kit, ceil(T / 23) a
// record: true for the first frame of a record.
inline std::vector<bool> recordStarts(const std::vector<uint8_t> &kit) {
    std::vector<bool> starts;
    size_t size = 0;
    for (size_t offset = 0; offset + 1 < kit.size(); offset += size) {
        size = (size_t(kit[offset]) << 8 | kit[offset + 1]) + 2;
        for (size_t at = 0; at < size; at += wire::kitBytesPerFrame) starts.push_back(at == 0);
    }
    return starts;
}

}  // namespace bench
