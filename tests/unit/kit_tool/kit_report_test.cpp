// Checking kits: the report must agree with the updater's own loading and
// validation on every kind of kit, and say where and why it fails.
#include "kit_report.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "kit/hex_text_reader.h"
#include "kit/kit_records.h"
#include "support/expected_output.h"
#include "support/temp_folder.h"
#include "support/test_kits.h"

namespace {

using testkit::TempFolder;

struct KitCase {
    const char *what;
    std::string text;
    bool accepted;
    int32_t firstBad = -1;  // -1 when every record is sound
    RecordFault fault = RecordFault::none;
};

void PrintTo(const KitCase &kit, std::ostream *out) { *out << kit.what; }

class CheckAgreesWithUpdater : public testing::TestWithParam<KitCase> {};

TEST_P(CheckAgreesWithUpdater, OnFirstFaultAndVerdict) {
    const KitCase &kit = GetParam();
    TempFolder folder;
    folder.write("Tarnwick_Box.kit", kit.text);
    KitReport report = examineKit(folder.file("Tarnwick_Box.kit"));

    // The updater's side: its reader, its refusal of an over-long kit, its walk.
    auto image = std::make_unique<KitImage>();
    HexTextResult reading = readHexText(kit.text.data(), static_cast<uint32_t>(kit.text.size()), *image);
    testing::internal::CaptureStdout();
    bool updaterAccepts = reading.end != HexTextEnd::tooLong && validateKit(*image);
    testing::internal::GetCapturedStdout();

    EXPECT_EQ(report.image->count, image->count);
    EXPECT_EQ(report.firstBad, firstBadRecord(*image));
    EXPECT_EQ(report.contentAccepted(), updaterAccepts);
    EXPECT_EQ(report.accepted(), updaterAccepts);

    EXPECT_EQ(report.firstBad, kit.firstBad);
    EXPECT_EQ(report.accepted(), kit.accepted);
    if (kit.firstBad >= 0) {
        EXPECT_EQ(checkRecord(*report.image, static_cast<uint16_t>(kit.firstBad)).fault, kit.fault);
    }

    // The first fault is the first the updater meets: the size before any record.
    std::string firstFault = "first fault: none\n";
    if (reading.end == HexTextEnd::tooLong) {
        firstFault =
            "first fault: the kit holds more than 65535 bytes; the updater refuses it before looking at its "
            "records\n";
    } else if (image->count == 0) {
        firstFault = "first fault: the kit holds no records\n";
    } else if (kit.firstBad >= 0) {
        firstFault = " at offset " + std::to_string(kit.firstBad) + ": its ";
    }
    std::ostringstream out;
    printReport(report, out);
    std::string text = out.str();
    EXPECT_NE(text.find(firstFault), std::string::npos) << text.substr(text.size() > 400 ? text.size() - 400 : 0);
}

const KitCase kitCases[] = {
    {"empty", "", false},
    {"not a kit", "Hello, this is not a kit", false},
    {"one record", "00 05 01 02 03 FA FF", true},
    {"lower case", "00 05 01 02 03 fa ff\r\n00 02 00 00\r\n", true},
    {"no payload", "00 02 00 00", true},
    {"largest kit", testkit::largestZeroKitText(), true},
    {"stops at ctrl-z", std::string("00 02 00 00\x1A") + "00 01", true},
    {"payload flipped", "00 05 01 02 04 FA FF", false, 0, RecordFault::badCheckWord},
    {"check flipped", "00 05 01 02 03 FA FE", false, 0, RecordFault::badCheckWord},
    {"no payload, bad check", "00 02 01 00", false, 0, RecordFault::badCheckWord},
    {"second bad", "00 02 00 00 00 05 01 02 03 FA 00", false, 4, RecordFault::badCheckWord},
    {"N of 1", "00 02 00 00 00 01 00", false, 4, RecordFault::lengthTooSmall},
    {"N of 0", "00 00 00 00", false, 0, RecordFault::lengthTooSmall},
    {"length cut", "00 02 00 00 00", false, 4, RecordFault::lengthCut},
    {"runs past end", "00 05 01 02 03 FA", false, 0, RecordFault::runsPastEnd},
    {"N over the kit", "FF FF 00 00", false, 0, RecordFault::runsPastEnd},
    {"bad record hidden after stop", "00 02 00 00 G 00 02 01 00", true},
    // 65,536 bytes: the updater refuses a kit over the limit.
    {"too long", expected::repeat("00 02 00 00 ", 16384), false, 65532, RecordFault::runsPastEnd},
    {"too long, records sound", testkit::largestZeroKitText() + " 00", false},
};

INSTANTIATE_TEST_SUITE_P(Kits, CheckAgreesWithUpdater, testing::ValuesIn(kitCases));

TEST(KitReport, SaysWhereTheReadingStopped) {
    TempFolder folder;
    folder.write("tarnwick_box_1.KIT", std::string("00 02 00 00\r\n\x1A") + "00 05 garbage");
    std::string path = folder.file("tarnwick_box_1.KIT");
    KitReport report = examineKit(path);
    EXPECT_EQ(report.reading.end, HexTextEnd::notHex);
    EXPECT_EQ(report.reading.stopAt, 13u);
    EXPECT_EQ(report.stopCharacter, 0x1A);
    std::ostringstream out;
    printReport(report, out);
    EXPECT_EQ(out.str(), "kit: " + path +
                             " (27 characters)\n"
                             "read: 4 bytes; reading stopped at offset 13 on character 0x1A, which does not begin a "
                             "hex number; 14 characters from there on ignored\n"
                             "record 1: offset 0, size 4, check word 0x0000, sound\n"
                             "first fault: none\n"
                             "name: tarnwick_box_1.KIT: the updater accepts this name\n"
                             "verdict: accepted (1 record, 4 bytes)\n");
}

TEST(KitReport, ListsRecordsPastABadCheckWordAndNamesTheFirstFault) {
    TempFolder folder;
    folder.write("Kit.kit", "00 05 01 02 03 FB FF 00 02 00 00 00 03 00");
    std::string path = folder.file("Kit.kit");
    std::ostringstream out;
    printReport(examineKit(path), out);
    EXPECT_EQ(out.str(), "kit: " + path +
                             " (41 characters)\n"
                             "read: 14 bytes from 41 characters, up to the end of the file\n"
                             "record 1: offset 0, size 7, check word 0xFFFB, NOT sound: its check word is 0xFFFB but "
                             "its payload sum 0x0006 needs 0xFFFA\n"
                             "record 2: offset 7, size 4, check word 0x0000, sound\n"
                             "record 3: offset 11, NOT sound: its 5 bytes run 2 bytes past the end of the kit\n"
                             "first fault: record 1 at offset 0: its check word is 0xFFFB but its payload sum "
                             "0x0006 needs 0xFFFA\n"
                             "name: Kit.kit: refused: it does not begin with \"Tarnwick_Box\" (letter case ignored)\n"
                             "verdict: rejected: the record at offset 0 is not sound; the name is refused\n");
}

TEST(KitName, AsTheUpdaterTakesIt) {
    std::string longest = "Tarnwick_Box" + std::string(99 - 16, 'x') + ".kit";
    struct {
        std::string name;
        KitNameFault fault;
    } cases[] = {
        {"Tarnwick_Box.kit", KitNameFault::none},
        {"tARNWICK_bOX_v2.KiT", KitNameFault::none},
        {longest, KitNameFault::none},
        {"x" + longest, KitNameFault::noTag},
        {"Tarnwick_Bo.kit", KitNameFault::noTag},
        {"Tarnwick-Box.kit", KitNameFault::noTag},
        {"Tarnwick_Box", KitNameFault::notKitFile},
        {"Tarnwick_Box.kit.txt", KitNameFault::notKitFile},
        {"Tarnwick_Box" + longest, KitNameFault::tooLong},
    };
    for (const auto &c : cases) EXPECT_EQ(checkKitName(c.name), c.fault) << c.name;
}

}  // namespace
