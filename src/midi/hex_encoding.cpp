#include "midi/hex_encoding.h"

static char hexDigit(uint8_t digit) { return static_cast<char>(digit <= 9 ? digit + 0x30 : digit + 0x37); }

void byteToHex(uint8_t value, char *out) {
    out[0] = hexDigit(static_cast<uint8_t>(value >> 4));
    out[1] = hexDigit(static_cast<uint8_t>(value & 0x0F));
}
