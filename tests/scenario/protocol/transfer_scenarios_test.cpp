// Whole runs whose outcome the record transfer decides: verdicts, retries,
// late and broken replies, silence, and the waits in virtual time.
#include "support/scenario_case.h"

namespace {

using namespace testkit;

using device::Faults;
using device::ReplyForm;
using expected::line;
using expected::repeat;

// A record rejected once with code, then accepted, as the first record.
std::string onceRejected(const std::string &message) { return line('-', 0) + message + transfer3; }

class TransferScenario : public ::testing::TestWithParam<ScenarioCase> {};

const ScenarioCase transferCases[] = {
    {"prompt", kit3, nullptr, transfer3, 41, 5, 51},
    // Every reply 90 ms after its message: the handshake's and each record's
    // wait end 90 ms after their last frame.
    {"latencyWithinTheWaits", kit3, faultText("latency=90"), transfer3, 90 + 90 + 100 + 90, 5, 51},

    // Verdicts other than 0x1A, once each on the first record: the record goes
    // again with the same glyph and share.
    {"crcError", kit3, faultText("verdicts=20"), onceRejected(expected::crcError), 51, 6, 51},
    {"damaged21", kit3, faultText("verdicts=21"), onceRejected(expected::damaged), 51, 6, 51},
    {"damaged22", kit3, faultText("verdicts=22"), onceRejected(expected::damaged), 51, 6, 51},
    {"verifyError", kit3, faultText("verdicts=24"), onceRejected(expected::verifyError), 51, 6, 51},
    {"eraseError", kit3, faultText("verdicts=25"), onceRejected(expected::eraseError), 51, 6, 51},
    {"unknownCode", kit3, faultText("verdicts=42"), onceRejected(""), 51, 6, 51},
    // The product code answers a greeting, never a record: it is passed over
    // and the record goes again only when its wait has run out.
    {"productCodeAsVerdict", kit3, faultText("verdicts=23"), onceRejected(""), 500 + 51, 6, 51},

    // The third record rejected four times: five lines with its glyph and share.
    {"fourCrcErrorsThenAccepted", kit3, faultText("verdicts=1A/1A/20*4"),
     line('-', 0) + line('-', 45) + repeat(line('\\', 92) + expected::crcError, 4) + line('\\', 92) + expected::done +
         expected::success,
     81, 9, 51},
    // 19 failures are survived; the acceptance starts the count again, so a
    // further failure on the next record is the first, not the twentieth.
    {"nineteenFailuresThenAccepted", kit3, faultText("verdicts=20*19/1A/20"),
     repeat(line('-', 0) + expected::crcError, 19) + line('-', 0) + line('-', 45) + expected::crcError + rest3, 251, 26,
     51},
    {"twentiethFailureWithReply", kit3, faultText("verdicts=20*20"),
     repeat(line('-', 0) + expected::crcError, 19) + line('-', 0) + expected::updateError, 201, 21, 0},
    // With 19 failures counted, even the completion code is the twentieth.
    {"completionAsTwentiethFailure", kit3, faultText("verdicts=20*19/77"),
     repeat(line('-', 0) + expected::crcError, 19) + line('-', 0) + expected::updateError, 201, 21, 23},
    // Silent after the handshake: 20 attempts of one frame, 10 ms and 50 x 10 ms.
    {"twentiethFailureWithoutReply", kit3, faultText("silent-after=0"),
     repeat(line('-', 0), 20) + expected::notResponding, 1 + 20 * 510, 21, 0},
    {"silentAfterFirstRecord", kit3, faultText("silent-after=1"),
     line('-', 0) + repeat(line('-', 45), 20) + expected::notResponding, 11 + 20 * 520, 42, 23},
    // From 85 percent the wait is 200 x 10 ms; below it 50 x 10 ms. The first
    // record of 84 or 85 bytes takes four frames.
    {"silentAt85Percent", std::vector<uint16_t>{85, 15}, faultText("silent-after=1"),
     line('-', 0) + repeat(line('-', 85), 20) + expected::notResponding, 41 + 20 * 2010, 25, 85},
    {"silentAt84Percent", std::vector<uint16_t>{84, 16}, faultText("silent-after=1"),
     line('-', 0) + repeat(line('-', 84), 20) + expected::notResponding, 41 + 20 * 510, 25, 84},

    // Late replies. The wait looks at the mailbox before each of its 50 sleeps
    // and once after the last, 510 ms after the record's last frame.
    {"replyAtTheLastLook", kit3, faultText("late-reply=1:510"), transfer3, 541, 5, 51},
    // One millisecond later it is the verdict on the resent record, which the
    // box recognises and does not answer again.
    {"lateReplyTakenForResend", kit3, faultText("late-reply=1:511,no-reply=2"), line('-', 0) + transfer3, 551, 6, 51},
    // Both replies come during the resend's pacing sleep; one verdict is taken
    // and nothing is left over for the next record.
    {"lateReplyAndResendReply", kit3, faultText("late-reply=1:511"), line('-', 0) + transfer3, 551, 6, 51},
    // A late rejection is the resend's verdict: the record goes a third time.
    {"lateRejectionTakenForResend", kit3, faultText("verdicts=20,late-reply=1:515,no-reply=2"),
     line('-', 0) + line('-', 0) + expected::crcError + transfer3, 561, 7, 51},
    // A reply lost after the box wrote the record: the resend is not written twice.
    {"lostReplyAfterWrite", kit3, faultText("no-reply=2"), line('-', 0) + line('-', 45) + rest3, 561, 7, 51},

    // Replies that are not replies count as none.
    {"startByteOnly", kit3, [](Faults &f) { f.recordReplies[1].form = ReplyForm::startByteOnly; },
     line('-', 0) + transfer3, 551, 6, 51},
    {"shortMessage", kit3, [](Faults &f) { f.recordReplies[1].form = ReplyForm::shortMessage; },
     line('-', 0) + transfer3, 551, 6, 51, 1},
    // Noise ahead of every reply changes nothing: short messages never reach
    // the mailbox, and an overlong SysEx (cut at the buffer) is overwritten by
    // the reply before the updater looks.
    {"noiseBeforeEveryReply", kit3,
     [](Faults &f) {
         f.noiseBeforeReply = {{0xFE}, {0x90, 0x3C, 0x40}, sysEx(250, 0x7D)};
     },
     transfer3, 41, 5, 51, 8},

    {"completionOnLastRecord", kit3, faultText("final-size=51"),
     line('-', 0) + line('-', 45) + line('\\', 92) + expected::restarted, 41, 5, 51},
    // The output fails on the second frame of the second record.
    {"outputFailsMidRecord", kit3, faultText("fail-after=3"),
     line('-', 0) + line('-', 45) + expected::outMissingInTransfer, 21, 4, 23},
};

TEST_P(TransferScenario, run) {
    device::Model model(faultsOf(GetParam()));
    checkScenario(GetParam(), model);
}

INSTANTIATE_TEST_SUITE_P(Transfer, TransferScenario, ::testing::ValuesIn(transferCases), caseName<ScenarioCase>);

// What reaches the program's callback during a noisy run.
TEST(TransferNoise, shortMessagesReachTheCallbackButNotTheMailbox) {
    // The handshake and three records: four replies, each after its noise.
    const ScenarioCase noisy = {
        "noisy", kit3, [](Faults &f) { f.noiseBeforeReply = {{0xFE}, sysEx(250, 0x55)}; }, transfer3, 41, 5, 51, 4};
    device::Model model(faultsOf(noisy));
    EXPECT_EQ(checkScenario(noisy, model).longMessages, 8);
}

// The resent record's fate inside the box, after its reply was lost.
TEST(TransferResend, lostReplyLeavesOneCopyOfTheRecord) {
    const ScenarioCase &lost = transferCases[21];
    ASSERT_STREQ(lost.name, "lostReplyAfterWrite");
    device::Model model(faultsOf(lost));
    checkScenario(lost, model);
    EXPECT_EQ(model.counters().recordAttempts, 4u);
    EXPECT_EQ(model.counters().recordsWritten, 3u);
    EXPECT_EQ(model.counters().resendsRecognised, 1u);
}

}  // namespace
