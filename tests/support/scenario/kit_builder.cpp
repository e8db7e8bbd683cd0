#include "support/scenario/kit_builder.h"

#include <cstdio>

namespace scenario {

Bytes makeRecord(uint16_t size, uint32_t seed) {
    uint16_t n = static_cast<uint16_t>(size - 2);
    Bytes record = {static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n & 0xFF)};
    uint16_t sum = 0;
    uint32_t state = seed * 2654435761u + 12345u;
    for (uint16_t i = 2; i < n; ++i) {
        state = state * 1103515245u + 12345u;
        uint8_t byte = static_cast<uint8_t>(state >> 16);
        // The first payload bytes carry the seed, so neighbours never match.
        if (i == 2) byte = static_cast<uint8_t>(seed);
        if (i == 3) byte = static_cast<uint8_t>(seed >> 8);
        record.push_back(byte);
        sum = static_cast<uint16_t>(sum + byte);
    }
    uint16_t check = static_cast<uint16_t>(0x10000 - sum);
    record.push_back(static_cast<uint8_t>(check & 0xFF));
    record.push_back(static_cast<uint8_t>(check >> 8));
    return record;
}

Bytes makeKit(const std::vector<uint16_t> &sizes) {
    Bytes kit;
    uint32_t seed = 1;
    for (uint16_t size : sizes) {
        Bytes record = makeRecord(size, seed++);
        kit.insert(kit.end(), record.begin(), record.end());
    }
    return kit;
}

std::vector<uint16_t> sizesSummingTo(uint32_t total) {
    static const uint16_t pattern[] = {23, 24, 4, 46, 47, 300, 5, 2000, 69, 1024};
    std::vector<uint16_t> sizes;
    uint32_t left = total;
    for (size_t i = 0; left != 0; ++i) {
        uint16_t size = pattern[i % (sizeof pattern / sizeof pattern[0])];
        // The last record takes the rest; it must still hold a check word.
        if (left < uint32_t(size) + 4) size = static_cast<uint16_t>(left);
        sizes.push_back(size);
        left -= size;
    }
    return sizes;
}

std::string kitText(const Bytes &kit) {
    std::string text;
    char pair[4];
    for (size_t i = 0; i < kit.size(); ++i) {
        std::snprintf(pair, sizeof pair, "%02X", kit[i]);
        text += pair;
        text += (i % 16 == 15 || i + 1 == kit.size()) ? "\r\n" : " ";
    }
    return text;
}

}  // namespace scenario
