// Whole runs whose outcome the handshake decides: the box's answer to the
// handshake message, or its silence, against the updater's 19 waits of
// 100 x 1 ms.
#include "support/scenario_case.h"

namespace {

using namespace testkit;

using device::Faults;
using device::ReplyForm;
using expected::line;
using expected::repeat;

class HandshakeScenario : public ::testing::TestWithParam<ScenarioCase> {};

// The handshake message leaves once per attempt; the transfer takes 1 + 2 + 1
// frames 10 ms apart after the handshake's reply was taken.
const ScenarioCase handshakeCases[] = {
    {"answersAtOnce", kit3, nullptr, transfer3, 41, 5, 51},
    {"restarting", kit3, faultText("handshake=15"), expected::resetting, 1, 1, 0},
    {"foreignProduct", kit3, faultText("handshake=42"), expected::notMatched, 1, 1, 0},
    // 19 messages, each followed by 100 sleeps of 1 ms.
    {"silent", kit3, faultText("silent"), expected::notResponding, 1900, 19, 0},
    {"answersOnlyTheNineteenth", kit3,
     [](Faults &f) {
         for (uint32_t n = 1; n <= 18; ++n) f.handshakeReplies[n].form = ReplyForm::none;
     },
     transfer3, 1841, 23, 51},
    {"answersTheFourth", kit3, faultText("no-handshake-reply=1/2/3"), transfer3, 341, 8, 51},
    // Answered after the first wait ended: the second wait takes it.
    {"lateAnswerTakenByNextWait", kit3, faultText("late-handshake=1:150,no-handshake-reply=2"), transfer3, 190, 6, 51},
    // A one-byte SysEx ends the first wait but is no reply, and it is never
    // cleared: the other 18 attempts go out without a single sleep, so no
    // later answer can be delivered.
    {"startByteOnly", kit3, [](Faults &f) { f.handshakeReplies[1].form = ReplyForm::startByteOnly; },
     expected::notResponding, 1, 19, 0},
    // A short message never reaches the mailbox: the first wait runs out.
    {"shortMessage", kit3, [](Faults &f) { f.handshakeReplies[1].form = ReplyForm::shortMessage; }, transfer3, 141, 6,
     51, 1},
    {"outputFailsAtOnce", kit3, faultText("fail-after=0"), expected::outMissing, 0, 1, 0},
};

TEST_P(HandshakeScenario, run) {
    device::Model model(faultsOf(GetParam()));
    RunResult run = checkScenario(GetParam(), model);
    // The run opens with the handshake message, the same nine bytes every
    // time, and only the transfer's four frames follow a successful one.
    size_t handshakes = 0;
    while (handshakes < run.frames.size() && run.frames[handshakes].bytes == handshakeBytes) ++handshakes;
    size_t transferFrames = GetParam().body == transfer3 ? 4 : 0;
    EXPECT_EQ(handshakes + transferFrames, run.frames.size());
}

INSTANTIATE_TEST_SUITE_P(Handshake, HandshakeScenario, ::testing::ValuesIn(handshakeCases), caseName<ScenarioCase>);

// A silent box is asked every 100 ms: the waits are 100 sleeps of 1 ms each.
TEST(HandshakeTiming, silentBoxIsAskedEveryHundredMilliseconds) {
    const ScenarioCase &silent = handshakeCases[3];
    ASSERT_STREQ(silent.name, "silent");
    device::Model model(faultsOf(silent));
    RunResult run = checkScenario(silent, model);
    ASSERT_EQ(run.frames.size(), 19u);
    for (size_t i = 0; i < run.frames.size(); ++i) EXPECT_EQ(run.frames[i].atMs, 100 * i) << "frame " << i;
}

}  // namespace
