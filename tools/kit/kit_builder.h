#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kit/kit_image.h"

// Cutting firmware into kit records and back. A record is the payload's
// length + 2 as a big-endian 16-bit field, the payload, and a little-endian
// check word that brings the payload sum to 0 modulo 65,536.

constexpr size_t defaultPayloadSize = 256;
// The length field holds payload + 2, and the record's 4 extra bytes must
// leave it within a kit's 65,535 bytes.
constexpr size_t maxPayloadSize = kitMaxBytes - 4;
constexpr size_t hexPairsPerLine = 16;

// Throws KitToolError unless a record can carry payloads of this size.
void requirePayloadSize(long long payloadSize);

// The check word that makes a record with this payload sound.
uint16_t checkWordFor(const uint8_t *payload, size_t size);

// Bytes of the kit that firmware of this size gives, records included.
size_t kitSizeFor(size_t firmwareSize, size_t payloadSize);

// The largest firmware that still fits a kit with this payload size.
size_t largestFirmwareFor(size_t payloadSize);

// The kit's bytes: records of payloadSize bytes, the last one shorter when
// the firmware does not divide evenly. Throws KitToolError for a payload
// size outside 1..maxPayloadSize or a kit over kitMaxBytes.
std::vector<uint8_t> buildRecords(const std::vector<uint8_t> &firmware, size_t payloadSize);

// The kit's text: upper-case hex pairs separated by spaces, hexPairsPerLine
// to a line, each line ended by CR LF.
std::string formatHexText(const std::vector<uint8_t> &kit);

// The payloads of a kit whose records are all sound, joined in order.
std::vector<uint8_t> joinPayloads(const KitImage &image);
