#pragma once

#include <cstdint>

// Two upper-case ASCII hex digits, high nibble first; no terminator.
void byteToHex(uint8_t value, char *out);
