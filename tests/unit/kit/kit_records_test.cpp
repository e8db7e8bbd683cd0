// The record walk: which kits pass, where the first bad record is, and that
// nothing at or beyond the count is ever read.
#include "kit/kit_records.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/case_name.h"
#include "support/test_kits.h"

namespace {

using testkit::Bytes;
using testkit::makeRecord;

Bytes joined(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// An image holding bytes, with poison after the count.
std::unique_ptr<KitImage> imageOf(const Bytes &bytes, uint8_t poison) {
    auto image = std::make_unique<KitImage>();
    std::fill(std::begin(image->bytes), std::end(image->bytes), poison);
    std::copy(bytes.begin(), bytes.end(), image->bytes);
    image->count = static_cast<uint16_t>(bytes.size());
    return image;
}

// The walk's verdict, which must be the same whatever lies beyond the count.
int32_t firstBad(const Bytes &bytes) {
    int32_t first = firstBadRecord(*imageOf(bytes, 0x00));
    for (uint8_t poison : {uint8_t{0xFF}, uint8_t{0x01}})
        EXPECT_EQ(firstBadRecord(*imageOf(bytes, poison)), first) << "the walk read beyond the count";
    return first;
}

const Bytes example = {0x00, 0x05, 0x01, 0x02, 0x03, 0xFA, 0xFF};

struct WalkCase {
    const char *name;
    Bytes bytes;
    int32_t firstBad;                       // -1: every record sound
    RecordFault fault = RecordFault::none;  // of the first bad record
};

const WalkCase walkCases[] = {
    {"empty", {}, -1},
    {"example", example, -1},
    {"noPayloadZeroCheck", {0x00, 0x02, 0x00, 0x00}, -1},
    {"noPayloadCheckLowByteSet", {0x00, 0x02, 0x01, 0x00}, 0, RecordFault::badCheckWord},
    {"noPayloadCheckHighByteSet", {0x00, 0x02, 0x00, 0x01}, 0, RecordFault::badCheckWord},
    {"severalRecords", joined({makeRecord(23, 1), {0x00, 0x02, 0x00, 0x00}, makeRecord(304, 9)}), -1},
    {"badSecondRecord", joined({example, {0x00, 0x05, 0x01, 0x02, 0x03, 0xFA, 0xFE}}), 7, RecordFault::badCheckWord},
    {"badThirdAfterTwoSound",
     joined({example, makeRecord(5, 0x80), makeRecord(6, 0x0201), {0x00, 0x03, 0x01, 0x00, 0x00}}), 18,
     RecordFault::badCheckWord},
    {"lengthZeroAlone", {0x00, 0x00}, 0, RecordFault::lengthTooSmall},
    {"lengthZero", {0x00, 0x00, 0x00, 0x00}, 0, RecordFault::lengthTooSmall},
    {"lengthOne", joined({example, {0x00, 0x01, 0x00}}), 7, RecordFault::lengthTooSmall},
    {"runsPastCount", {0x00, 0x09, 0x01, 0x02, 0x03, 0xFA, 0xFF}, 0, RecordFault::runsPastEnd},
    {"largestLengthRunsPast", joined({example, {0xFF, 0xFF, 0x00, 0x00}}), 7, RecordFault::runsPastEnd},
    {"loneTrailingByte", joined({example, {0x00}}), 7, RecordFault::lengthCut},
    {"checkWordCutByCount", joined({example, {0x00, 0x03, 0x01, 0xFF}}), 7, RecordFault::runsPastEnd},
    // Sound as far as the count goes, but the check word's high byte lies beyond it.
    {"checkHighByteBeyondCount", {0x00, 0x03, 0x01, 0xFF}, 0, RecordFault::runsPastEnd},
    {"oneRecordFillsAFullKit", makeRecord(65535, 3), -1},
    {"fullKitEndsWithLoneByte", joined({makeRecord(65534, 3), {0x00}}), 65534, RecordFault::lengthCut},
};

void PrintTo(const WalkCase &c, std::ostream *os) { *os << c.name; }

class RecordWalk : public testing::TestWithParam<WalkCase> {};

TEST_P(RecordWalk, FindsTheFirstBadRecord) {
    const WalkCase &c = GetParam();
    EXPECT_EQ(firstBad(c.bytes), c.firstBad);
    if (c.firstBad >= 0) {
        for (uint8_t poison : {uint8_t{0x00}, uint8_t{0xFF}})
            EXPECT_EQ(checkRecord(*imageOf(c.bytes, poison), static_cast<uint16_t>(c.firstBad)).fault, c.fault);
    }
    auto image = imageOf(c.bytes, 0x00);
    testing::internal::CaptureStdout();
    bool valid = validateKit(*image);
    std::string output = testing::internal::GetCapturedStdout();
    // A kit without records is refused though nothing in it is bad.
    EXPECT_EQ(valid, c.firstBad < 0 && !c.bytes.empty());
    EXPECT_EQ(output, valid ? "" : "Error: The upgrade file is error!\n\n");
}

INSTANTIATE_TEST_SUITE_P(Kit, RecordWalk, testing::ValuesIn(walkCases), testkit::caseName<WalkCase>);

TEST(RecordCheck, SoundRecordReportsItsSize) {
    auto image = imageOf(joined({{0xAA}, example}), 0x00);
    RecordCheck check = checkRecord(*image, 1);
    EXPECT_EQ(check.fault, RecordFault::none);
    EXPECT_EQ(check.size, 7u);
    EXPECT_EQ(check.checkWord, 0xFFFA);
    EXPECT_EQ(recordSize(*image, 1), 7);
}

// Any one byte of a record changed, to any other value, fails the kit: in the
// length field, the payload or the check word.
TEST(RecordCheck, EverySingleByteChangeFails) {
    for (const Bytes &sound : {example, makeRecord(44, 5)}) {
        Bytes kit = joined({makeRecord(6, 0x2010), sound});
        size_t start = kit.size() - sound.size();
        ASSERT_EQ(firstBad(kit), -1);
        for (size_t at = start; at < kit.size(); ++at) {
            for (int flip = 1; flip < 256; ++flip) {
                Bytes changed = kit;
                changed[at] = static_cast<uint8_t>(changed[at] ^ flip);
                ASSERT_GE(firstBad(changed), static_cast<int32_t>(start)) << "byte " << at << " xor " << flip;
            }
        }
    }
}

}  // namespace
