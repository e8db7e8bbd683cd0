// Closing the ports: once each, input before output, and really released.
#include <algorithm>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "ports_fixture.h"
#include "run/update_run.h"
#include "support/expected_output.h"

namespace {

struct Side {
    const char *name;
    std::function<MidiStatus()> open;
    std::function<int()> close;
    const char *closeEntry;
};

void PrintTo(const Side &row, std::ostream *out) { *out << row.name; }

const Side sides[] = {
    {"input", [] { return openMidiIn(0); }, closeMidiIn, "midiInClose 0"},
    {"output", [] { return openMidiOut(0); }, closeMidiOut, "midiOutClose 0"},
};

using PortClose = Ports<Start::deviceOnly>;

// A port closes once: a second close, like one with nothing open, does
// nothing. After the close the same port opens again; on the input side this
// holds also when the buffer was handed back after a message.
using CloseAndReopen = Rows<PortClose, std::tuple<Side, bool>>;

TEST_P(CloseAndReopen, ClosesOnceAndOpensAgain) {
    const Side &side = std::get<0>(GetParam());
    EXPECT_EQ(0, side.close()) << "never opened";
    capturedStdout([&] { ASSERT_EQ(0, side.open()); });
    if (std::get<1>(GetParam())) deliverNow({0xF0, 0x23, 0xF7});
    EXPECT_EQ(1, side.close());
    EXPECT_EQ(0, side.close());
    capturedStdout([&] { EXPECT_EQ(0, side.open()); });
    const std::vector<std::string> log = sim::portLog();
    EXPECT_EQ(1, std::count(log.begin(), log.end(), side.closeEntry));
    EXPECT_EQ(0, std::count(log.begin(), log.end(), std::string(side.closeEntry) + " refused"));
}

INSTANTIATE_TEST_SUITE_P(Ports, CloseAndReopen, ::testing::Combine(::testing::ValuesIn(sides), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<CloseAndReopen::ParamType> &row) {
                             return std::string(std::get<0>(row.param).name) +
                                    (std::get<1>(row.param) ? "AfterAMessage" : "");
                         });

TEST_F(PortClose, ReopenedInputReceivesAgain) {
    capturedStdout([] {
        openMidiIn(0);
        closeMidiIn();
        openMidiIn(0);
    });
    deliverNow({0xF0, 0x1A, 0xF7});
    EXPECT_EQ(3, mailbox.replyLength.load());
}

struct EndCase {
    const char *name;
    bool openIn, openOut;
    std::vector<std::string> closes;
};

void PrintTo(const EndCase &row, std::ostream *out) { *out << row.name; }

const EndCase endCases[] = {
    {"both open", true, true, {"midiInReset 0", "midiInClose 0", "midiOutClose 0"}},
    {"input only", true, false, {"midiInReset 0", "midiInClose 0"}},
    {"output only", false, true, {"midiOutClose 0"}},
    {"none open", false, false, {}},
};

using ClosingEnd = Rows<PortClose, EndCase>;

// The end of a run closes input before output, whatever is open, then pauses.
TEST_P(ClosingEnd, ClosesInputThenOutputThenPauses) {
    const EndCase &c = GetParam();
    capturedStdout([&] {
        if (c.openIn) openMidiIn(0);
        if (c.openOut) openMidiOut(0);
    });
    const size_t opens = sim::portLog().size();
    EXPECT_EQ(expected::pause, capturedStdout(closingEnd));
    const std::vector<std::string> log = sim::portLog();
    EXPECT_EQ(c.closes, std::vector<std::string>(log.begin() + long(opens), log.end()));
    EXPECT_EQ(1, sim::pauseCount());
    EXPECT_EQ(0, closeMidiIn());
    EXPECT_EQ(0, closeMidiOut());
}

INSTANTIATE_TEST_SUITE_P(Ports, ClosingEnd, ::testing::ValuesIn(endCases), caseName<EndCase>);

}  // namespace
