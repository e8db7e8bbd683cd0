// The port stage: which numbers are tried, which port is kept, what is printed.
#include <string>
#include <vector>

#include "base/wire_constants.h"
#include "midi/sysex_sender.h"
#include "ports_fixture.h"
#include "support/expected_output.h"

namespace {

using expected::inLine;
using expected::inMissing;
using expected::outLine;
using expected::outMissing;

using PortList = std::vector<sim::PortEntry>;
using PortLog = std::vector<std::string>;
const PortList oneDevice = {{"USB Device", false}};
const PortList systemOnly = {{"Microsoft MIDI Mapper", false}, {"Microsoft GS Wavetable Synth", false}};
const PortList heldThenFree = {{"USB Device", true}, {"USB Device", false}};
const PortList deviceThenSystem = {{"USB Device", false}, {"Microsoft GS Wavetable Synth", false}};
const PortList synthThenDevice = {{"Microsoft GS Wavetable Synth", false}, {"USB Device", false}};

const PortLog bothOpen = {"midiInOpen 0", "midiOutOpen 0"};
// A system port at 0 passed over, the device kept at 1.
const PortLog inputSkipsOne = {"midiInOpen 0", "midiInReset 0", "midiInClose 0", "midiInOpen 1", "midiOutOpen 0"};
const PortLog outputSkipsOne = {"midiInOpen 0", "midiOutOpen 0", "midiOutClose 0", "midiOutOpen 1"};
// Two system ports passed over, and no third port.
const PortLog inputSkipsTwo = {"midiInOpen 0",  "midiInReset 0", "midiInClose 0", "midiInOpen 1",
                               "midiInReset 1", "midiInClose 1", "midiInOpen 2"};
const PortLog outputSkipsTwo = {"midiInOpen 0",  "midiOutOpen 0",  "midiOutClose 0",
                                "midiOutOpen 1", "midiOutClose 1", "midiOutOpen 2"};

struct SearchCase {
    std::string name;
    PortList inputs;
    PortList outputs;
    bool opens;
    std::string printed;
    PortLog log;
    sim::MidiStack stack = sim::MidiStack::winmm;
};

void PrintTo(const SearchCase &row, std::ostream *out) { *out << row.name; }

std::vector<SearchCase> searchCases() {
    std::vector<SearchCase> cases = {
        {"in no port", {}, oneDevice, false, inMissing, {"midiInOpen 0"}},
        {"in only system ports", systemOnly, oneDevice, false, inLine + inLine + inMissing, inputSkipsTwo},
        {"in port 0 held elsewhere, 1 free", heldThenFree, oneDevice, false, inMissing, {"midiInOpen 0"}},
        {"in device at 0, system port at 1", deviceThenSystem, oneDevice, true, inLine + outLine, bothOpen},
        {"out no port", oneDevice, {}, false, inLine + outMissing, bothOpen},
        {"out only system ports", oneDevice, systemOnly, false, inLine + outLine + outLine + outMissing,
         outputSkipsTwo},
        {"out port 0 held elsewhere, 1 free", oneDevice, heldThenFree, false, inLine + outMissing, bothOpen},
        // Windows 11's MIDI service opens nothing by number before the ports
        // were counted, and has its synth at output 0.
        {"MIDI Services", oneDevice, synthThenDevice, true, inLine + outLine + outLine, outputSkipsOne,
         sim::MidiStack::midiServices},
    };
    // A system port at 0 is passed over; only the first nine letters of the
    // system's name count, in either case.
    for (const std::string name : {"Microsoft GS Wavetable Synth", "MICROSOFT x", "microsoft gs", "Microsoft"}) {
        const PortList ports = {{name, false}, {"USB Device", false}};
        cases.push_back({"in skips " + name, ports, oneDevice, true, inLine + inLine + outLine, inputSkipsOne});
        cases.push_back({"out skips " + name, oneDevice, ports, true, inLine + outLine + outLine, outputSkipsOne});
    }
    for (const std::string name : {"Micro", "Microsof", "My Microsoft"}) {
        const PortList ports = {{name, false}, {"USB Device", false}};
        cases.push_back({"keeps " + name, ports, ports, true, inLine + outLine, bothOpen});
    }
    return cases;
}

using PortSearch = Rows<Ports<Start::bareHost>, SearchCase>;

TEST_P(PortSearch, KeepsTheDevicesPortsOrSaysWhichIsMissing) {
    const SearchCase &c = GetParam();
    sim::setInputPorts(c.inputs);
    sim::setOutputPorts(c.outputs);
    sim::setMidiStack(c.stack);
    bool opened = false;
    EXPECT_EQ(c.printed, capturedStdout([&] { opened = openPorts(0, 0); }));
    EXPECT_EQ(c.opens, opened);
    EXPECT_EQ(c.log, sim::portLog());
    if (!opened) return;
    // The kept ports are the device's: its reply reaches the mailbox and a
    // frame sent goes out on its output.
    deliverNow({0xF0, 0x23, 0xF7});
    EXPECT_EQ(3, mailbox.replyLength.load());
    EXPECT_EQ(0, sendSysEx(wire::handshakeMessage, wire::handshakeLength));
    EXPECT_EQ(1u, sim::sentFrames().size());
}

INSTANTIATE_TEST_SUITE_P(Ports, PortSearch, ::testing::ValuesIn(searchCases()), caseName<SearchCase>);

}  // namespace
