#include "support/test_kits.h"

#include <random>

#include "kit_builder.h"

namespace testkit {

Bytes makeRecord(uint16_t size, uint32_t seed) {
    uint16_t n = static_cast<uint16_t>(size - 2);
    Bytes record = {static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n & 0xFF)};
    uint32_t state = seed * 2654435761u + 12345u;
    for (uint16_t i = 2; i < n; ++i) {
        state = state * 1103515245u + 12345u;
        uint8_t byte = static_cast<uint8_t>(state >> 16);
        // The first payload bytes carry the seed, so neighbours never match.
        if (i == 2) byte = static_cast<uint8_t>(seed);
        if (i == 3) byte = static_cast<uint8_t>(seed >> 8);
        record.push_back(byte);
    }
    uint16_t check = checkWordFor(record.data() + 2, record.size() - 2);
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

Bytes randomBytes(size_t size, uint32_t seed) {
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (uint8_t &byte : bytes) byte = static_cast<uint8_t>(generator());
    return bytes;
}

std::string largestZeroKitText() {
    std::string text = "FF FD ";
    for (int i = 0; i < 65531; ++i) text += "00 ";
    return text + "00 00";
}

std::string kitText(const Bytes &kit) { return formatHexText(kit); }

}  // namespace testkit
