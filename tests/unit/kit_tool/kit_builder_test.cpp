// Building kits: what the updater's own reader and record walk make of the
// text, the way back to the firmware, and the size limits.
#include "kit_builder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "kit/hex_text_reader.h"
#include "kit/kit_records.h"
#include "kit_tool_error.h"
#include "support/test_kits.h"

namespace {

using testkit::randomBytes;

TEST(KitBuilder, SmallKitTextIsExact) {
    std::vector<uint8_t> firmware = {0x01, 0x02, 0x03, 0xA0, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13};
    // 10 + 3 payload bytes: two records, 21 kit bytes, a line break after 16.
    std::string text = formatHexText(buildRecords(firmware, 10));
    EXPECT_EQ(text,
              "00 0C 01 02 03 A0 0B 0C 0D 0E 0F 10 09 FF 00 05\r\n"
              "11 12 13 CA FF\r\n");
    EXPECT_EQ(formatHexText({}), "");
}

// Firmware and payload sizes: records that divide evenly, a short last
// record, a single record, the largest payload.
struct RoundTrip {
    size_t firmwareSize;
    size_t payloadSize;
};

void PrintTo(const RoundTrip &trip, std::ostream *out) {
    *out << trip.firmwareSize << " bytes, payload " << trip.payloadSize;
}

class KitRoundTrip : public testing::TestWithParam<RoundTrip> {};

TEST_P(KitRoundTrip, UpdaterReadsSoundRecordsThatJoinBackToTheFirmware) {
    RoundTrip trip = GetParam();
    std::vector<uint8_t> firmware = randomBytes(trip.firmwareSize, static_cast<uint32_t>(trip.firmwareSize * 7919));
    std::vector<uint8_t> kit = buildRecords(firmware, trip.payloadSize);
    std::string text = formatHexText(kit);

    auto image = std::make_unique<KitImage>();
    HexTextResult reading = readHexText(text.data(), static_cast<uint32_t>(text.size()), *image);
    ASSERT_EQ(reading.end, HexTextEnd::endOfText);
    ASSERT_EQ(image->count, kitSizeFor(trip.firmwareSize, trip.payloadSize));
    EXPECT_EQ(firstBadRecord(*image), -1);

    // Every record but the last carries a full payload.
    size_t offset = 0;
    size_t left = trip.firmwareSize;
    while (offset < image->count) {
        size_t payload = left < trip.payloadSize ? left : trip.payloadSize;
        ASSERT_EQ(recordSize(*image, static_cast<uint16_t>(offset)), payload + 4) << "offset " << offset;
        offset += payload + 4;
        left -= payload;
    }
    EXPECT_EQ(joinPayloads(*image), firmware);
}

const RoundTrip trips[] = {{0, 256},          {1, 1},        {5000, 1},      {13107, 1},   {23 * 40, 23},
                           {23 * 40 + 7, 23}, {255, 256},    {256, 256},     {61440, 256}, {61441, 256},
                           {64523, 256},      {40000, 1000}, {65531, 65531}, {3, 65531}};

INSTANTIATE_TEST_SUITE_P(Sizes, KitRoundTrip, testing::ValuesIn(trips));

TEST(KitBuilder, LargestFirmwareFitsAndOneByteMoreDoesNot) {
    for (size_t payload : std::vector<size_t>{1, 2, 23, 256, 1000, 65530, maxPayloadSize}) {
        size_t largest = largestFirmwareFor(payload);
        EXPECT_LE(kitSizeFor(largest, payload), kitMaxBytes) << "payload " << payload;
        EXPECT_NO_THROW(buildRecords(std::vector<uint8_t>(largest), payload)) << "payload " << payload;
        EXPECT_THROW(buildRecords(std::vector<uint8_t>(largest + 1), payload), KitToolError) << "payload " << payload;
    }
}

}  // namespace
