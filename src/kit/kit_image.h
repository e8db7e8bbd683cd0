#pragma once

#include <cstdint>

// The kit's bytes in file order. The storage is larger than the 16-bit count
// can address; the count's width is the limit of a kit.
constexpr uint32_t kitStorageSize = 131072;
constexpr uint32_t kitMaxBytes = 65535;

struct KitImage {
    uint8_t bytes[kitStorageSize];
    uint16_t count;
};
