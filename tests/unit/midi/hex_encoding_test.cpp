#include "midi/hex_encoding.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// The two characters byteToHex writes; a third, guard character must stay.
std::string hexOf(uint8_t value) {
    char out[3] = {'?', '?', '#'};
    byteToHex(value, out);
    EXPECT_EQ('#', out[2]) << "wrote past the two characters for " << int(value);
    return std::string(out, 2);
}

struct HexCase {
    uint8_t value;
    const char *text;
};

TEST(ByteToHex, GivesUpperCaseDigitsHighNibbleFirst) {
    const HexCase cases[] = {
        {0x00, "00"}, {0x0A, "0A"}, {0x9F, "9F"}, {0xFF, "FF"}, {0x10, "10"}, {0x09, "09"}, {0xA0, "A0"},
    };
    for (const HexCase &c : cases) EXPECT_EQ(c.text, hexOf(c.value)) << "value " << int(c.value);
}

// Every byte comes out as the C library's upper-case hex, so the device can
// decode any kit byte; 0-9 and A-F only, never lower case.
TEST(ByteToHex, EveryByteMatchesTwoDigitUpperCaseHex) {
    for (int value = 0; value < 256; ++value) {
        char expected[3];
        std::snprintf(expected, sizeof expected, "%02X", value);
        EXPECT_EQ(expected, hexOf(static_cast<uint8_t>(value))) << "value " << value;
    }
}

}  // namespace
