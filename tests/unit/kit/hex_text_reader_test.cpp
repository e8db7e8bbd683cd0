// The kit text rules, read from memory and from a file alike.
#include "kit/hex_text_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "support/case_name.h"
#include "support/expected_output.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t unwritten = 0xEE;

// Kit storage is 128 KiB: on the heap, with a marker in every byte so that a
// store past the count shows.
std::unique_ptr<KitImage> freshImage() {
    auto image = std::make_unique<KitImage>();
    std::fill(std::begin(image->bytes), std::end(image->bytes), unwritten);
    image->count = 0xBEEF;
    return image;
}

Bytes kitBytes(const KitImage &image) { return Bytes(image.bytes, image.bytes + image.count); }

// Reads text from memory, or from a file holding it.
HexTextResult readHex(const std::string &text, KitImage &image, bool fromFile) {
    if (!fromFile) return readHexText(text.data(), static_cast<uint32_t>(text.size()), image);
    std::FILE *file = std::tmpfile();
    EXPECT_NE(file, nullptr);
    if (file == nullptr) return {HexTextEnd::endOfText, 0};
    std::fwrite(text.data(), 1, text.size(), file);
    std::rewind(file);
    HexTextResult result = readHexFile(file, image);
    std::fclose(file);
    return result;
}

struct TextCase {
    const char *name;
    std::string text;
    Bytes bytes;
    uint32_t stopAt;
    HexTextEnd end = HexTextEnd::endOfText;
};

const TextCase textCases[] = {
    {"digitsCutIntoPairs", "0A1B2C", {0x0A, 0x1B, 0x2C}, 6},
    {"oddRunLeavesOneDigit", "123", {0x12, 0x03}, 3},
    {"singleDigitBeforeSpace", "A 1B", {0x0A, 0x1B}, 4},
    {"lowerCaseDigits", "ab cD ef", {0xAB, 0xCD, 0xEF}, 8},
    {"usualLayout", "00 05 01 02\r\n03 FA FF\r\n", {0x00, 0x05, 0x01, 0x02, 0x03, 0xFA, 0xFF}, 23},
    {"prefixNotCounted", "0x1F", {0x1F}, 4},
    {"upperCasePrefix", "0X1f", {0x1F}, 4},
    {"prefixThenThreeDigits", "0x123", {0x12, 0x03}, 5},
    {"prefixWithoutDigit", "0xZ", {0x00}, 1, HexTextEnd::notHex},
    {"prefixAtEnd", "0x", {0x00}, 1, HexTextEnd::notHex},
    {"minusNegates", "-1", {0xFF}, 2},
    {"plusIgnored", "+5", {0x05}, 2},
    {"signTakesADigitsPlace", "-12 +AB", {0xFF, 0x02, 0x0A, 0x0B}, 7},
    {"signThenPrefix", "-0x1", {0xFF}, 4},
    {"signThenNonDigit", "01 +Z", {0x01}, 3, HexTextEnd::notHex},
    {"signThenSpace", "- 1", {}, 0, HexTextEnd::notHex},
    {"loneSignAtEnd", "01 -", {0x01}, 3, HexTextEnd::notHex},
    {"allWhiteSpaceSkipped", "\t01\n02\v03\f04\r05 06", {1, 2, 3, 4, 5, 6}, 18},
    {"ctrlZEnds", std::string("01\x1A") + "02", {0x01}, 2, HexTextEnd::notHex},
    {"nulEnds", std::string("01\0 02", 6), {0x01}, 2, HexTextEnd::notHex},
    {"otherCharacterEnds", "01 02 G3 04", {0x01, 0x02}, 6, HexTextEnd::notHex},
    {"digitThenOtherCharacter", "1g", {0x01}, 1, HexTextEnd::notHex},
    {"firstCharacterNotHex", "Z01", {}, 0, HexTextEnd::notHex},
    {"byteBelowSpaceIsNotWhiteSpace", "\b01", {}, 0, HexTextEnd::notHex},
    {"empty", "", {}, 0},
    {"onlyWhiteSpace", " \r\n", {}, 3},
    // Beyond the first window of a file, too.
    {"stopsBeyondTheFirstWindow", expected::repeat("5A ", 30000) + "Q 01", Bytes(30000, 0x5A), 90000,
     HexTextEnd::notHex},
};

void PrintTo(const TextCase &c, std::ostream *os) { *os << c.name; }

class HexTextRules : public testing::TestWithParam<TextCase> {};

TEST_P(HexTextRules, FromMemoryAndFromFile) {
    const TextCase &c = GetParam();
    for (bool fromFile : {false, true}) {
        SCOPED_TRACE(fromFile ? "file" : "memory");
        auto image = freshImage();
        HexTextResult result = readHex(c.text, *image, fromFile);
        EXPECT_EQ(kitBytes(*image), c.bytes);
        EXPECT_EQ(result.end, c.end);
        EXPECT_EQ(result.stopAt, c.stopAt);
        EXPECT_EQ(image->bytes[c.bytes.size()], unwritten);
    }
}

INSTANTIATE_TEST_SUITE_P(Kit, HexTextRules, testing::ValuesIn(textCases), testkit::caseName<TextCase>);

// The file is read through a window of hexFileBlockSize bytes: numbers,
// prefixes and signs cut by the window's edge must read as they do from memory.
TEST(HexTextFile, NumbersAcrossTheWindowEdgeReadAsFromMemory) {
    const std::string tail = "0x1F -1 +5 0A1B2C 7 -0x2 \r\n ab";
    for (size_t pad = hexFileBlockSize - 11; pad <= hexFileBlockSize + 4; ++pad) {
        for (const char *filler : {" ", "0"}) {
            SCOPED_TRACE(testing::Message() << "pad " << pad << " filler '" << filler << "'");
            const std::string text = expected::repeat(filler, static_cast<int>(pad)) + tail;
            auto fromMemory = freshImage();
            auto fromFile = freshImage();
            HexTextResult memoryResult = readHex(text, *fromMemory, false);
            HexTextResult fileResult = readHex(text, *fromFile, true);
            ASSERT_EQ(kitBytes(*fromFile), kitBytes(*fromMemory));
            EXPECT_EQ(fileResult.end, memoryResult.end);
            EXPECT_EQ(fileResult.stopAt, memoryResult.stopAt);
        }
    }
}

// 65,535 numbers fill a kit; one more is refused without being stored.
TEST(HexTextLimit, CountStopsAt65535) {
    for (int numbers : {65535, 65536, 70000}) {
        std::string text;
        for (int i = 0; i < numbers; ++i) text += (i % 2 == 0) ? "5A " : "c3\n";
        for (bool fromFile : {false, true}) {
            SCOPED_TRACE(testing::Message() << numbers << (fromFile ? " file" : " memory"));
            auto image = freshImage();
            HexTextResult result = readHex(text, *image, fromFile);
            EXPECT_EQ(result.end, numbers > 65535 ? HexTextEnd::tooLong : HexTextEnd::endOfText);
            EXPECT_EQ(image->count, 65535);
            EXPECT_EQ(image->bytes[0], 0x5A);
            EXPECT_EQ(image->bytes[65534], 0x5A);
            EXPECT_EQ(image->bytes[65535], unwritten);
        }
    }
}

}  // namespace
