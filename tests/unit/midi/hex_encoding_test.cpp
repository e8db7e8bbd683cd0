#include "midi/hex_encoding.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// Every byte comes out as the C library's upper-case hex, high nibble first,
// so the device can decode any kit byte; 0-9 and A-F only, never lower case.
// Only the two characters are written: a third, guard character must stay.
TEST(ByteToHex, EveryByteMatchesTwoDigitUpperCaseHex) {
    for (int value = 0; value < 256; ++value) {
        char expected[3];
        std::snprintf(expected, sizeof expected, "%02X", value);
        char out[3] = {'?', '?', '#'};
        byteToHex(static_cast<uint8_t>(value), out);
        EXPECT_EQ(expected, std::string(out, 2)) << "value " << value;
        EXPECT_EQ('#', out[2]) << "wrote past the two characters for " << value;
    }
}

}  // namespace
