#pragma once

#include <cstdint>
#include <cstdio>

#include "kit/kit_image.h"

// How the reading of a kit's text ended.
enum class HexTextEnd {
    endOfText,   // nothing left to read
    notHex,      // a character that cannot begin a number; stopAt tells where
    tooLong,     // more numbers than a kit may hold; nothing beyond the limit is stored
    readFailed,  // the file could not be read to its end (a folder, an I/O error)
};

struct HexTextResult {
    HexTextEnd end;
    uint32_t stopAt;  // text offset of the first character not read
};

// Reads numbers of at most two hex digits, as a "%2X" conversion does, into
// image from index 0: white space (0x09-0x0D, space) before a number is
// skipped; a "0x" prefix does not count toward the digits; a sign takes the
// place of one digit and "-" negates; the low 8 bits of each value are kept.
HexTextResult readHexText(const char *text, uint32_t length, KitImage &image);

// The same over an open file, read untranslated, in blocks of this size.
constexpr uint32_t hexFileBlockSize = 65536;
HexTextResult readHexFile(std::FILE *file, KitImage &image);
