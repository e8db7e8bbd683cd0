// A scenario as a row of a table: a kit, the box's faults, and what the run
// must show for it. One helper runs any row.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "device_model.h"
#include "fault_text.h"
#include "support/case_name.h"
#include "support/expected_output.h"
#include "support/sysex_bytes.h"
#include "support/test_kits.h"
#include "support/updater_run.h"

namespace testkit {

// Three records: one frame, two frames, one frame; 0, 45 and 92 percent.
// After the handshake (1 ms) each frame is followed by 10 ms, so a prompt
// box sees the transfer over at 41 ms.
inline const std::vector<uint16_t> kit3 = {23, 24, 4};
inline const std::string rest3 =
    expected::line('-', 45) + expected::line('\\', 92) + expected::done + expected::success;
inline const std::string transfer3 = expected::line('-', 0) + rest3;
inline const std::vector<uint8_t> handshakeBytes = {0xF0, 0x3C, 0x11, 0x52, 0x07, 0x68, 0x4D, 0x23, 0xF7};

struct ScenarioCase {
    const char *name;
    std::vector<uint16_t> recordSizes;  // the kit: sound records of these sizes
    std::function<void(device::Faults &)> faults;
    std::string body;       // the output between the port lines and the pause
    uint64_t endMs;         // virtual time when the run is over
    size_t frames;          // frames on the wire, handshakes included
    size_t imageBytes;      // how much of the kit the box holds at the end
    int shortMessages = 0;  // that reached the program's callback
};

inline std::ostream &operator<<(std::ostream &out, const ScenarioCase &row) { return out << row.name; }

// Faults as the box's fault text names them.
inline std::function<void(device::Faults &)> faultText(const char *text) {
    return [text](device::Faults &faults) { faults = device::parseFaults(text); };
}

inline device::Faults faultsOf(const ScenarioCase &row) {
    device::Faults faults;
    if (row.faults) row.faults(faults);
    return faults;
}

// Runs the row and checks the whole output, the frame count, the time, the
// short messages and the box's image; gives the run for further checks. A
// peer, when given, carries the frames to the model in place of the plain one.
inline RunResult checkScenario(const ScenarioCase &row, device::Model &model, sim::Peer *peer = nullptr,
                               sim::MidiStack stack = sim::MidiStack::winmm) {
    Bytes kit = makeKit(row.recordSizes);
    Setup setup;
    setup.kitText = kitText(kit);
    setup.stack = stack;
    RunResult run = peer ? runUpdateWith(setup, *peer) : runUpdateAgainst(setup, model);
    EXPECT_EQ(run.output, expected::start + row.body + expected::pause);
    EXPECT_EQ(run.frames.size(), row.frames);
    EXPECT_EQ(run.endMs, row.endMs);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.pauses, 1);
    EXPECT_EQ(run.shortMessages, row.shortMessages);
    // Every end after the port stage closes the input port, then the output.
    EXPECT_EQ(run.portLog, (std::vector<std::string>{"midiInOpen 0", "midiOutOpen 0", "midiInReset 0", "midiInClose 0",
                                                     "midiOutClose 0"}));
    EXPECT_EQ(model.image(), Bytes(kit.begin(), kit.begin() + row.imageBytes));
    return run;
}

}  // namespace testkit
