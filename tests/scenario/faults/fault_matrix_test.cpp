// A box that misbehaves, each way once at the handshake and once in the
// middle of the transfer: whatever it does, the run ends with the message for
// that situation, both ports closed, on time by the virtual clock, and the box
// holds only whole records of the kit, in order. A way the handshake or the
// transfer table already runs unchanged (a box gone or restarting) is not
// repeated here.
#include <algorithm>

#include "base/wire_constants.h"
#include "support/scenario_case.h"

namespace {

using namespace testkit;

using device::Bytes;
using expected::line;
using expected::repeat;

// The answers to one frame reshaped the way a misbehaving box or a noisy line
// would send them; faults the model has knobs for are set on the model.
struct Reshaping {
    uint32_t frame = 0;         // the frame (from 1) whose answers are reshaped; 0: none
    size_t padTo = 0;           // each answer padded to this many bytes, F0 .. F7 included
    int copies = 1;             // each answer sent this many times, 1 ms apart
    bool shortsAround = false;  // real-time and channel messages with each answer
    uint8_t fill = 0;           // the padding's data bytes; 0: those of sysEx()
};

// The device model on the simulated host, with the reshaping.
class FaultPeer : public sim::Peer {
  public:
    FaultPeer(device::Model &model, const Reshaping &reshaping) : model_(model), reshaping_(reshaping) {}

    bool onFrame(const uint8_t *frame, size_t length, uint64_t nowMs) override {
        device::FrameResult result = model_.onFrame(frame, length, nowMs);
        const Reshaping &how = ++frames_ == reshaping_.frame ? reshaping_ : Reshaping{};
        for (const device::Outgoing &message : result.messages) {
            const Bytes &reply = message.bytes;
            Bytes bytes = how.padTo > reply.size() && reply.size() >= 2 ? sysEx(how.padTo, reply[1]) : reply;
            if (how.fill != 0) std::fill(bytes.begin() + 2, bytes.end() - 1, how.fill);
            // Real-time bytes that interrupt a SysEx message reach the program
            // as messages of their own, at the same instant, before and after
            // it: timing clock and active sensing, then a note.
            if (how.shortsAround) {
                post({0xF8}, message.delayMs);
                post({0xFE}, message.delayMs);
            }
            for (int copy = 0; copy < how.copies; ++copy) post(bytes, message.delayMs + uint32_t(copy));
            if (how.shortsAround) {
                post({0xF8}, message.delayMs);
                post({0x90, 0x3C, 0x40}, message.delayMs + 1);
            }
        }
        return result.accepted;
    }

    int shortsPosted = 0;

  private:
    void post(const Bytes &bytes, uint32_t delayMs) {
        if (!bytes.empty() && bytes[0] != 0xF0) ++shortsPosted;
        sim::post(bytes, delayMs);
    }

    device::Model &model_;
    Reshaping reshaping_;
    uint32_t frames_ = 0;
};

// The frames of kit3: the handshake's is 1, the second record's last is 4.
constexpr uint32_t handshakeFrame = 1;
constexpr uint32_t middleRecordFrame = 4;

// The last record refused once, then taken.
const std::string refusedOnce = line('-', 0) + line('-', 45) + line('\\', 92) + expected::crcError + line('\\', 92) +
                                expected::done + expected::success;

Reshaping padded(uint32_t frame, uint8_t fill = 0) { return {frame, 260, 1, false, fill}; }
Reshaping burst(uint32_t frame) { return {frame, 0, 5, false}; }
Reshaping shortsAround(uint32_t frame) { return {frame, 0, 1, true}; }

struct FaultCase : ScenarioCase {
    Reshaping reshaping = {};
    sim::MidiStack stack = sim::MidiStack::winmm;
};

const FaultCase faultCases[] = {
    // The box vanishes in the transfer. On Windows 11's MIDI service the send
    // that finds it gone fails only after its 1 s time-out.
    {{"outputTimesOutMidTransfer", kit3, faultText("fail-after=3"),
      line('-', 0) + line('-', 45) + expected::outMissingInTransfer, 1021, 4, 23},
     {},
     sim::MidiStack::midiServices},

    // Answers of 260 bytes: the 200-byte buffer takes their first 200, code
    // and all, and the run goes on as with a prompt box.
    {{"overlongReplyAtHandshake", kit3, nullptr, transfer3, 41, 5, 51}, padded(handshakeFrame)},
    {{"overlongReplyMidTransfer", kit3, nullptr, transfer3, 41, 5, 51}, padded(middleRecordFrame)},
    // Windows 11's MIDI service hands them over in two buffers, the second
    // without the start byte: its data bytes are never taken for a code, not
    // even 0x1A after a refusal.
    {{"splitReplyAtHandshake", kit3, nullptr, transfer3, 41, 5, 51},
     padded(handshakeFrame),
     sim::MidiStack::midiServices},
    {{"splitRefusalMidTransfer", kit3, faultText("verdicts=1A/20"),
      line('-', 0) + line('-', 45) + expected::crcError + rest3, 61, 7, 51},
     padded(middleRecordFrame, wire::codeAccepted),
     sim::MidiStack::midiServices},

    // Five copies of an answer, 1 ms apart. Those after the handshake's
    // reply land with the first record's verdict and the last one, 0x23,
    // stands over it: no verdict, so the record goes again after its wait.
    // In the transfer all five arrive within one 10 ms sleep and count once.
    {{"burstAtHandshake", kit3, nullptr, line('-', 0) + transfer3, 500 + 51, 6, 51}, burst(handshakeFrame)},
    {{"burstMidTransfer", kit3, nullptr, transfer3, 41, 5, 51}, burst(middleRecordFrame)},

    // Timing clock and active sensing with the answer, a note after it: they
    // reach the handler and change nothing.
    {{"shortMessagesAtHandshake", kit3, nullptr, transfer3, 41, 5, 51, 4}, shortsAround(handshakeFrame)},
    {{"shortMessagesMidTransfer", kit3, nullptr, transfer3, 41, 5, 51, 4}, shortsAround(middleRecordFrame)},

    // The box restarts in the transfer: 0x15 to every attempt from the second
    // record on, 20 ms each, until the 20th failure.
    {{"restartMidTransfer", kit3, faultText("verdicts=1A/15*20"),
      line('-', 0) + repeat(line('-', 45), 20) + expected::updateError, 11 + 20 * 20, 42, 23}},

    // An answer 1 ms after its wait is over. The handshake's (101 ms) is taken
    // by the second handshake's wait; the second record's (511 ms after its
    // last frame) arrives while the record goes again and stands for it; the
    // box knows the resend and writes it once.
    {{"lateReplyAtHandshake", kit3, faultText("late-handshake=1:101"), transfer3, 100 + 41, 6, 51}},
    {{"lateReplyMidTransfer", kit3, faultText("late-reply=2:511"), line('-', 0) + line('-', 45) + rest3, 21 + 510 + 30,
      7, 51}},

    // Answers to greetings that come while the records go out, each run with
    // the last record refused once: the refusal must show and the box must
    // end with the whole kit. A box slower than the greeting's wait answers
    // both greetings sent (due 150 and 250 ms), every verdict 150 ms after
    // its record.
    {{"slowBoxAnswersEveryGreeting", kit3, faultText("latency=150,verdicts=1A/1A/20"), refusedOnce, 760, 7, 51}},
    // Greetings answered after 550 ms, six greetings sent: five answers come
    // during the first two records, whose verdicts take 250 ms.
    {{"greetingsAnsweredAfter550ms", kit3, faultText("latency=250,verdicts=1A/1A/20,late-handshake=1-19:550"),
      refusedOnce, 1560, 11, 51}},
    // Each greeting answered twice, 20 ms apart: the second answer comes
    // while the first record waits for its verdict.
    {{"greetingAnsweredTwice", kit3, faultText("latency=50,verdicts=1A/1A/20,handshake-again=20"), refusedOnce, 260, 6,
      51}},
};

class FaultMatrix : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultMatrix, EndsWithItsMessagePortsClosedOnTime) {
    const FaultCase &row = GetParam();
    device::Model model(faultsOf(row));
    FaultPeer peer(model, row.reshaping);
    checkScenario(row, model, &peer, row.stack);
    EXPECT_EQ(peer.shortsPosted, row.shortMessages);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(faultCases), caseName<FaultCase>);

}  // namespace
