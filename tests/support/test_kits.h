// Kits made to measure: sound records of chosen sizes, and their text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testkit {

using Bytes = std::vector<uint8_t>;

// A sound record of size bytes in all (at least 4): length field, payload,
// check word. The payload depends on seed, so records with different seeds
// differ; it spans the whole byte range, so the hex text uses every digit.
Bytes makeRecord(uint16_t size, uint32_t seed);

// Sound records of the given sizes, in order, numbered by their seeds.
Bytes makeKit(const std::vector<uint16_t> &sizes);

// Record sizes that add up to exactly total bytes, mixed around the frame
// size (full frames, one byte over, tiny and long records).
std::vector<uint16_t> sizesSummingTo(uint32_t total);

// size bytes of noise standing in for firmware, the same for the same seed.
Bytes randomBytes(size_t size, uint32_t seed);

// The largest kit's text on one line: one record of N = 65,533 whose payload
// is all zeros, 65,535 numbers in all.
std::string largestZeroKitText();

// The kit as a kit file holds it: the kit tool's own text, hex pairs,
// sixteen to a line.
std::string kitText(const Bytes &kit);

}  // namespace testkit
