// A box that misbehaves, each way once at the handshake and once in the
// middle of the transfer: whatever it does, the run ends with the message for
// that situation, both ports closed, on time by the virtual clock, and the box
// holds only whole records of the kit, in order.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "device_model.h"
#include "fault_peer.h"
#include "support/test_kits.h"
#include "support/updater_run.h"

namespace {

using device::Faults;
using faults::Reshaping;

// Three sound records: one frame, two frames, one frame (frames 2, 3-4, 5
// after the handshake's frame 1); 0, 45 and 92 percent. A prompt box has the
// handshake done at 1 ms and the transfer at 41 ms: 10 ms after each frame.
const std::vector<uint16_t> recordSizes = {23, 24, 4};
constexpr uint32_t handshakeFrame = 1;
constexpr uint32_t middleRecordFrame = 4;  // completes the second record

const std::string start =
    "Quorlane Update V0.3 -> Tarnwick Box System\n"
    "OK: File 'Tarnwick_Box.kit' is open.\n"
    "MIDI IN DEVICE: USB Device\r\n"
    "MIDI OUT DEVICE: USB Device\r\n";
const std::string pause = "Press any key to continue . . . \n";
const std::string success = "\rTransferring.. 100% done.  \nTarget update successfully!\n\n";
const std::string outMissing = "Error: The MIDI Out of device is missing!\n\n";
const std::string notResponding = "\nFailed: Target is not responding.\n\n";
const std::string resetting = "Please wait the system reset and retry again!\n\n";
const std::string updateError = "\nError in updating.\n";
const std::string crcError = "\nThe CRC of the download file is error!\n";

std::string line(char glyph, int percent) {
    return std::string("\r                        \rTransferring.. ") + glyph + " " + std::to_string(percent) +
           "% done";
}

std::string times(const std::string &text, int count) {
    std::string all;
    for (int i = 0; i < count; ++i) all += text;
    return all;
}

const std::string first = line('-', 0);
const std::string second = line('-', 45);
const std::string third = line('\\', 92);
const std::string wholeTransfer = first + second + third + success;

struct FaultCase {
    const char *name;
    std::function<void(Faults &, Reshaping &)> fault;
    std::string body;  // between the port lines and the pause
    uint64_t endMs;
    size_t frames;      // handshakes included
    size_t imageBytes;  // the kit's first bytes the box holds
    int shortMessages;  // that reached the program's input handler
};

std::ostream &operator<<(std::ostream &out, const FaultCase &row) { return out << row.name; }

Reshaping padded(uint32_t frame) {
    Reshaping r;
    r.frame = frame;
    r.padTo = 260;
    return r;
}

Reshaping burst(uint32_t frame) {
    Reshaping r;
    r.frame = frame;
    r.copies = 5;
    return r;
}

Reshaping shortsAround(uint32_t frame) {
    Reshaping r;
    r.frame = frame;
    r.shortsAround = true;
    return r;
}

// Every answer latencyMs late; the third record refused once with 0x20.
void lastRecordRefusedOnce(Faults &f, uint32_t latencyMs) {
    f.latencyMs = latencyMs;
    f.verdictScript = {0x1A, 0x1A, 0x20};
}

const FaultCase faultCases[] = {
    // The box vanishes: its input refuses the frame.
    {"outputFailsAtHandshake", [](Faults &f, Reshaping &) { f.failAfterFrames = 0; }, outMissing, 0, 1, 0, 0},
    {"outputFailsMidTransfer", [](Faults &f, Reshaping &) { f.failAfterFrames = 3; },
     first + second + "\n" + outMissing, 21, 4, 23, 0},
    // The box vanishes: its output goes quiet. 19 handshake waits of 100 ms;
    // or 20 attempts at the second record, each 2 frames and 50 x 10 ms.
    {"inputQuietAtHandshake", [](Faults &f, Reshaping &) { f.silent = true; }, notResponding, 1900, 19, 0, 0},
    {"inputQuietMidTransfer", [](Faults &f, Reshaping &) { f.silentAfterRecords = 1; },
     first + times(second, 20) + notResponding, 11 + 20 * 520, 42, 23, 0},

    // Answers of 260 bytes: the 200-byte buffer takes their first 200, code
    // and all, and the run goes on as with a prompt box.
    {"overlongReplyAtHandshake", [](Faults &, Reshaping &r) { r = padded(handshakeFrame); }, wholeTransfer, 41, 5, 51,
     0},
    {"overlongReplyMidTransfer", [](Faults &, Reshaping &r) { r = padded(middleRecordFrame); }, wholeTransfer, 41, 5,
     51, 0},

    // Five copies of an answer, 1 ms apart. Those after the handshake's
    // reply land with the first record's verdict and the last one, 0x23,
    // stands over it: no verdict, so the record goes again after its wait.
    // In the transfer all five arrive within one 10 ms sleep and count once.
    {"burstAtHandshake", [](Faults &, Reshaping &r) { r = burst(handshakeFrame); },
     first + first + second + third + success, 500 + 51, 6, 51, 0},
    {"burstMidTransfer", [](Faults &, Reshaping &r) { r = burst(middleRecordFrame); }, wholeTransfer, 41, 5, 51, 0},

    // Timing clock and active sensing with the answer, a note after it: they
    // reach the handler and change nothing.
    {"shortMessagesAtHandshake", [](Faults &, Reshaping &r) { r = shortsAround(handshakeFrame); }, wholeTransfer, 41, 5,
     51, 4},
    {"shortMessagesMidTransfer", [](Faults &, Reshaping &r) { r = shortsAround(middleRecordFrame); }, wholeTransfer, 41,
     5, 51, 4},

    // The box restarts: 0x15 to the handshake, or to every attempt from the
    // second record on, 20 ms each, until the 20th failure.
    {"restartAtHandshake", [](Faults &f, Reshaping &) { f.handshakeCode = 0x15; }, resetting, 1, 1, 0, 0},
    {"restartMidTransfer",
     [](Faults &f, Reshaping &) {
         f.verdictScript = {0x1A};
         f.verdictScript.insert(f.verdictScript.end(), 20, 0x15);
     },
     first + times(second, 20) + updateError, 11 + 20 * 20, 42, 23, 0},

    // An answer 1 ms after its wait is over. The handshake's (101 ms) is taken
    // by the second handshake's wait; the second record's (511 ms after its
    // last frame) arrives while the record goes again and stands for it; the
    // box knows the resend and writes it once.
    {"lateReplyAtHandshake", [](Faults &f, Reshaping &) { f.handshakeReplies[1].latencyMs = 101; }, wholeTransfer,
     100 + 41, 6, 51, 0},
    {"lateReplyMidTransfer", [](Faults &f, Reshaping &) { f.recordReplies[2].latencyMs = 511; },
     first + second + second + third + success, 21 + 510 + 30, 7, 51, 0},

    // Answers to greetings that come while the records go out, each run with
    // the last record refused once: the refusal must show and the box must
    // end with the whole kit. A box slower than the greeting's wait answers
    // both greetings sent (due 150 and 250 ms), every verdict 150 ms after
    // its record.
    {"slowBoxAnswersEveryGreeting", [](Faults &f, Reshaping &) { lastRecordRefusedOnce(f, 150); },
     first + second + third + crcError + third + success, 760, 7, 51, 0},
    // Greetings answered after 550 ms, six greetings sent: five answers come
    // during the first two records, whose verdicts take 250 ms.
    {"greetingsAnsweredAfter550ms",
     [](Faults &f, Reshaping &) {
         lastRecordRefusedOnce(f, 250);
         for (uint32_t n = 1; n <= 19; ++n) f.handshakeReplies[n].latencyMs = 550;
     },
     first + second + third + crcError + third + success, 1560, 11, 51, 0},
    // Each greeting answered twice, 20 ms apart: the second answer comes
    // while the first record waits for its verdict.
    {"greetingAnsweredTwice",
     [](Faults &f, Reshaping &) {
         lastRecordRefusedOnce(f, 50);
         f.handshakeAnsweredAgainAfterMs = 20;
     },
     first + second + third + crcError + third + success, 260, 6, 51, 0},
};

class FaultMatrix : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultMatrix, EndsWithItsMessagePortsClosedOnTime) {
    const FaultCase &row = GetParam();
    Faults deviceFaults;
    Reshaping reshaping;
    row.fault(deviceFaults, reshaping);
    device::Model model(deviceFaults);
    faults::FaultPeer peer(model, reshaping);
    testkit::Bytes kit = testkit::makeKit(recordSizes);

    testkit::Setup setup;
    setup.kitText = testkit::kitText(kit);
    testkit::RunResult run = testkit::runUpdateWith(setup, peer);

    EXPECT_EQ(run.output, start + row.body + pause);
    EXPECT_EQ(run.endMs, row.endMs);
    EXPECT_EQ(run.frames.size(), row.frames);
    EXPECT_EQ(run.pauses, 1);
    EXPECT_EQ(run.portLog, (std::vector<std::string>{"midiInOpen 0", "midiOutOpen 0", "midiInReset 0", "midiInClose 0",
                                                     "midiOutClose 0"}));
    EXPECT_EQ(model.image(), testkit::Bytes(kit.begin(), kit.begin() + long(row.imageBytes)));
    EXPECT_EQ(run.shortMessages, row.shortMessages);
    EXPECT_EQ(peer.shortsPosted(), row.shortMessages);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(faultCases),
                         [](const ::testing::TestParamInfo<FaultCase> &p) { return std::string(p.param.name); });

}  // namespace
