#pragma once

#include <cstdint>

#include "kit/kit_image.h"

// A record: 2-byte big-endian N, N-2 payload bytes, 2-byte little-endian check
// word; T = N + 2 bytes in all. Sound when payload sum + check word is 0
// modulo 65,536.

enum class RecordFault {
    none,
    lengthCut,       // the length field itself runs past the end of the kit
    lengthTooSmall,  // N below 2 leaves no room for the check word
    runsPastEnd,     // the record runs past the end of the kit
    badCheckWord,    // payload sum + check word is not 0
};

struct RecordCheck {
    RecordFault fault;
    uint32_t size;  // T, as the length field gives it (0 when it is cut)
    uint16_t sum;   // payload sum + check word, when the record is whole
    uint16_t checkWord;
};

// Examines the record at offset without reading at or beyond count.
RecordCheck checkRecord(const KitImage &image, uint16_t offset);

// T of the record at offset, in a kit that has passed validateKit.
uint16_t recordSize(const KitImage &image, uint16_t offset);

// Walks the records in order; the first bad one fails, after its message, and
// so does a kit with no records at all.
bool validateKit(const KitImage &image);

// The offset of the first bad record, or -1 when every record is sound.
int32_t firstBadRecord(const KitImage &image);
