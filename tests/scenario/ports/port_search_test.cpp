// The port stage: which numbers are tried, which port is kept, what is printed.
#include <string>
#include <vector>

#include "midi/sysex_sender.h"
#include "ports_fixture.h"
#include "protocol/wire_constants.h"

namespace {

const char inLine[] = "MIDI IN DEVICE: USB Device\r\n";
const char outLine[] = "MIDI OUT DEVICE: USB Device\r\n";
const char inMissing[] = "Error: The MIDI In of device is missing!\n\n";
const char outMissing[] = "Error: The MIDI Out of device is missing!\n\n";

const std::vector<sim::PortEntry> oneDevice = {{"USB Device", false}};

struct SearchCase {
    const char *name;
    std::vector<sim::PortEntry> inputs;
    std::vector<sim::PortEntry> outputs;
    bool opens;
    std::string printed;
    std::vector<std::string> log;
};

class PortSearch : public PortsTest {
  protected:
    void check(const SearchCase &c) {
        SCOPED_TRACE(c.name);
        SetUp();
        sim::setInputPorts(c.inputs);
        sim::setOutputPorts(c.outputs);
        bool opened = false;
        EXPECT_EQ(c.printed, capturedStdout([&] { opened = openPorts(0, 0); }));
        EXPECT_EQ(c.opens, opened);
        EXPECT_EQ(c.log, sim::portLog());
        if (opened) expectDeviceReachable();
        TearDown();
    }

    // The kept ports are the device's: its reply reaches the mailbox and a
    // frame sent goes out on its output.
    void expectDeviceReachable() {
        deliverNow({0xF0, 0x23, 0xF7});
        EXPECT_EQ(3, mailbox.replyLength.load());
        EXPECT_EQ(0, sendSysEx(wire::handshakeMessage, wire::handshakeLength));
        EXPECT_EQ(1u, sim::sentFrames().size());
    }
};

TEST_F(PortSearch, InputSide) {
    const SearchCase cases[] = {
        {"no input port", {}, oneDevice, false, inMissing, {"midiInOpen 0"}},
        {"system port 0, device at 1",
         {{"Microsoft GS Wavetable Synth", false}, {"USB Device", false}},
         oneDevice,
         true,
         std::string(inLine) + inLine + outLine,
         {"midiInOpen 0", "midiInReset 0", "midiInClose 0", "midiInOpen 1", "midiOutOpen 0"}},
        {"only system ports",
         {{"Microsoft MIDI Mapper", false}, {"Microsoft GS Wavetable Synth", false}},
         oneDevice,
         false,
         std::string(inLine) + inLine + inMissing,
         {"midiInOpen 0", "midiInReset 0", "midiInClose 0", "midiInOpen 1", "midiInReset 1", "midiInClose 1",
          "midiInOpen 2"}},
        {"port 0 held elsewhere, 1 free",
         {{"USB Device", true}, {"USB Device", false}},
         oneDevice,
         false,
         inMissing,
         {"midiInOpen 0"}},
        {"device at 0, system port at 1",
         {{"USB Device", false}, {"Microsoft GS Wavetable Synth", false}},
         oneDevice,
         true,
         std::string(inLine) + outLine,
         {"midiInOpen 0", "midiOutOpen 0"}},
    };
    for (const SearchCase &c : cases) check(c);
}

TEST_F(PortSearch, OutputSide) {
    const SearchCase cases[] = {
        {"no output port", oneDevice, {}, false, std::string(inLine) + outMissing, {"midiInOpen 0", "midiOutOpen 0"}},
        {"system port 0, device at 1",
         oneDevice,
         {{"Microsoft GS Wavetable Synth", false}, {"USB Device", false}},
         true,
         std::string(inLine) + outLine + outLine,
         {"midiInOpen 0", "midiOutOpen 0", "midiOutClose 0", "midiOutOpen 1"}},
        {"only system ports",
         oneDevice,
         {{"Microsoft MIDI Mapper", false}, {"Microsoft GS Wavetable Synth", false}},
         false,
         std::string(inLine) + outLine + outLine + outMissing,
         {"midiInOpen 0", "midiOutOpen 0", "midiOutClose 0", "midiOutOpen 1", "midiOutClose 1", "midiOutOpen 2"}},
        {"port 0 held elsewhere, 1 free",
         oneDevice,
         {{"USB Device", true}, {"USB Device", false}},
         false,
         std::string(inLine) + outMissing,
         {"midiInOpen 0", "midiOutOpen 0"}},
    };
    for (const SearchCase &c : cases) check(c);
}

// Only the first nine letters count, in either case.
TEST_F(PortSearch, SystemPrefixIgnoresCaseButNeedsAllNineLetters) {
    const char *skipped[] = {"MICROSOFT x", "microsoft gs", "Microsoft"};
    for (const char *name : skipped) {
        check({name,
               {{name, false}, {"USB Device", false}},
               oneDevice,
               true,
               std::string(inLine) + inLine + outLine,
               {"midiInOpen 0", "midiInReset 0", "midiInClose 0", "midiInOpen 1", "midiOutOpen 0"}});
        check({name,
               oneDevice,
               {{name, false}, {"USB Device", false}},
               true,
               std::string(inLine) + outLine + outLine,
               {"midiInOpen 0", "midiOutOpen 0", "midiOutClose 0", "midiOutOpen 1"}});
    }
    const char *kept[] = {"Micro", "Microsof", "My Microsoft"};
    for (const char *name : kept) {
        const std::vector<sim::PortEntry> ports = {{name, false}, {"USB Device", false}};
        check({name, ports, ports, true, std::string(inLine) + outLine, {"midiInOpen 0", "midiOutOpen 0"}});
    }
}

}  // namespace
