// The typical run byte for byte on the console and frame by frame on the
// wire, the records cut into frames, the kit arriving whole, and a machine
// whose first ports are the system's own.
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "support/scenario_case.h"
#include "support/wire_trace.h"

namespace {

using namespace testkit;

using expected::line;

// Nine records of 23, 24, 4, 7, 46, 47, 5, 10 and 30 bytes: 196 bytes in 14
// frames. Enough records for the spinner to come round to its first glyph.
const char typicalKit[] =
    "00 15 00 8B 16 A1 2C B7 42 CD 58 E3 6E F9 84 0F 9A 25 B0 3B C6 27 F7\n"
    "00 16 25 B0 3B C6 51 DC 67 F2 7D 08 93 1E A9 34 BF 4A D5 60 EB 76 F2 F5\n"
    "00 02 00 00\n"
    "00 05 01 02 03 FA FF\n"
    "00 2C 94 1F AA 35 C0 4B D6 61 EC 77 02 8D 18 A3 2E B9 44 CF 5A E5 70 FB 86 11 9C 27 B2 3D C8 53 DE 69 F4 7F 0A "
    "95 20 AB 36 C1 4C D7 39 EB\n"
    "00 2D B9 44 CF 5A E5 70 FB 86 11 9C 27 B2 3D C8 53 DE 69 F4 7F 0A 95 20 AB 36 C1 4C D7 62 ED 78 03 8E 19 A4 2F "
    "BA 45 D0 5B E6 71 FC 87 A0 E9\n"
    "00 03 DE 22 FF\n"
    "00 08 03 8E 19 A4 2F BA C9 FD\n"
    "00 1C 28 B3 3E C9 54 DF 6A F5 80 0B 96 21 AC 37 C2 4D D8 63 EE 79 04 8F 1A A5 30 BB 79 F3\n";

const std::string typicalOutput = expected::start + line('-', 0) + line('-', 11) + line('\\', 23) + line('\\', 26) +
                                  line('|', 29) + line('|', 53) + line('/', 77) + line('/', 79) + line('-', 84) +
                                  expected::done + expected::success + expected::pause;

RunResult runTypical(device::Model &model, std::vector<sim::PortEntry> inputs = {{"USB Device", false}}) {
    Setup setup;
    setup.kitText = typicalKit;
    setup.inputs = inputs;
    return runUpdateAgainst(setup, model);
}

TEST(TypicalRun, consoleOutput) {
    device::Model model;
    RunResult run = runTypical(model);
    EXPECT_EQ(run.output, typicalOutput);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.pauses, 1);
    EXPECT_EQ(model.image().size(), 196u);
    EXPECT_EQ(model.counters().recordsWritten, 9u);
}

// The handshake at 0 ms is answered within the first 1 ms sleep; from then on
// every frame is followed by 10 ms, and a prompt box's verdict is there when
// the record's last sleep ends.
TEST(TypicalRun, frameTimes) {
    device::Model model;
    RunResult run = runTypical(model);
    ASSERT_EQ(run.frames.size(), 15u);
    EXPECT_EQ(run.frames[0].atMs, 0u);
    for (size_t i = 1; i < run.frames.size(); ++i) EXPECT_EQ(run.frames[i].atMs, 1 + 10 * (i - 1)) << "frame " << i;
    EXPECT_EQ(run.endMs, 141u);
}

// The run's wire traffic, kept under review in fixtures/typical_run.wire.
// After an intended change to what goes on the wire, rewrite the file with
//   TARNWICK_UPDATE_FIXTURES=1 ctest -L scenario -R TypicalRun
// (which fails, so that a rewrite is never taken for a pass), review its
// diff, and run the test again without the variable.
TEST(TypicalRun, wireTraceMatchesFixture) {
    device::Model model;
    std::string trace = wireTrace(runTypical(model).frames);
    const std::string path = std::string(TARNWICK_SCENARIO_FIXTURES) + "/typical_run.wire";
    const char *update = std::getenv("TARNWICK_UPDATE_FIXTURES");
    if (update != nullptr && std::string(update) == "1") {
        std::ofstream(path, std::ios::binary) << trace;
        FAIL() << "rewrote " << path << "; review its diff, then run again without TARNWICK_UPDATE_FIXTURES";
    }
    std::ifstream file(path, std::ios::binary);
    ASSERT_TRUE(file) << "missing " << path;
    EXPECT_EQ(trace, std::string(std::istreambuf_iterator<char>(file), {}));
}

// Whatever the kit, the box ends up holding it byte for byte; each record
// goes out as 23-byte chunks in hex, a shorter chunk last.
struct DeliveryCase {
    const char *name;
    std::vector<uint16_t> recordSizes;
    std::vector<size_t> dataLengths = {};  // of each frame after the handshake, where checked
};

std::ostream &operator<<(std::ostream &out, const DeliveryCase &row) { return out << row.name; }

// Every record accepted at once: one frame per 23 bytes, 10 ms apart.
ScenarioCase acceptedAtOnce(const DeliveryCase &row) {
    size_t frames = 0, bytes = 0;
    for (uint16_t size : row.recordSizes) {
        frames += (size + 22u) / 23u;
        bytes += size;
    }
    std::string body = expected::linesFor(row.recordSizes) + expected::done + expected::success;
    return {row.name, row.recordSizes, nullptr, body, 1 + 10 * frames, 1 + frames, bytes};
}

class KitDelivery : public ::testing::TestWithParam<DeliveryCase> {};

const DeliveryCase deliveryCases[] = {
    {"smallest", {4}, {8}},
    {"oneFullFrame", {23}, {46}},
    {"oneByteOver", {24}, {46, 2}},
    {"twoFullFrames", {46}, {46, 46}},
    {"twoAndOneByte", {47}, {46, 46, 2}},
    {"oneRecord", {7}},
    {"manyRecords", sizesSummingTo(5000)},
    {"largestInEqualRecords", std::vector<uint16_t>(255, 257)},
    {"largestInMixedRecords", sizesSummingTo(65535)},
    {"largestInOneRecord", {65535}},
};

TEST_P(KitDelivery, boxHoldsTheKit) {
    const DeliveryCase &row = GetParam();
    device::Model model;
    RunResult run = checkScenario(acceptedAtOnce(row), model);
    EXPECT_EQ(model.counters().recordsWritten, row.recordSizes.size());
    EXPECT_EQ(run.frames[0].bytes, handshakeBytes);
    std::string text;
    std::vector<size_t> lengths;
    for (size_t i = 1; i < run.frames.size(); ++i) {
        const sim::SentFrame &frame = run.frames[i];
        EXPECT_EQ(frame.bytes.front(), 0xF0);
        EXPECT_EQ(frame.bytes.back(), 0xF7);
        EXPECT_EQ(frame.atMs, 1 + 10 * (i - 1));
        text += frameData(frame);
        lengths.push_back(frameData(frame).size());
    }
    if (!row.dataLengths.empty()) {
        EXPECT_EQ(lengths, row.dataLengths);
    }
    // The frames' data, joined, is the kit's own text without its spaces and line ends.
    std::string hex = kitText(makeKit(row.recordSizes));
    hex.erase(std::remove_if(hex.begin(), hex.end(), [](char c) { return c == ' ' || c == '\r' || c == '\n'; }),
              hex.end());
    EXPECT_EQ(text, hex);
}

INSTANTIATE_TEST_SUITE_P(Wire, KitDelivery, ::testing::ValuesIn(deliveryCases), caseName<DeliveryCase>);

// The first input port is the system's own: it is opened, passed over and
// closed, and the box at number 1 is used.
TEST(PortTable, systemInputPortPassedOver) {
    device::Model model;
    RunResult run = runTypical(model, {{"Microsoft GS Wavetable Synth", false}, {"USB Device", false}});
    std::string output = typicalOutput;
    output.insert(output.find(expected::inLine), expected::inLine);
    EXPECT_EQ(run.output, output);
    EXPECT_EQ(run.portLog,
              (std::vector<std::string>{"midiInOpen 0", "midiInReset 0", "midiInClose 0", "midiInOpen 1",
                                        "midiOutOpen 0", "midiInReset 1", "midiInClose 1", "midiOutClose 0"}));
    EXPECT_EQ(model.image().size(), 196u);
    EXPECT_EQ(run.frames.size(), 15u);
}

}  // namespace
