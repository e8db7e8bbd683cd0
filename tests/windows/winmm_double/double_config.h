// What the test asks of the stand-in winmm, read from the environment of the
// program under test (Wine hands the Unix environment on):
//
//   TARNWICK_TEST_PORTS     port names by device number, separated by "|",
//                           the same table for input and output; a name that
//                           begins with "!" is held by another program and
//                           cannot be opened, one that begins with "~" has no
//                           device behind it (a loopback or another program's
//                           virtual port). Default: "Tarnwick Box".
//   TARNWICK_TEST_STACK     "winmm" (the default) or "midi-services": Windows
//                           11's MIDI service, which puts its synth
//                           "Microsoft GS Wavetable Synth" at output 0 ahead
//                           of the table and behaves as sim::MidiStack says;
//                           "midi-services-unfixed": the service before its
//                           November 2026 fix, which wrote a 64-bit handle
//                           into a 32-bit program's 4-byte slot, so that no
//                           SysEx left a 32-bit program.
//   TARNWICK_TEST_FAULTS    the box's faults as fault text (fault_text.h), such
//                           as "latency=20,verdicts=20/1A".
//   TARNWICK_TEST_IMAGE     file that receives the image the box has written.
//   TARNWICK_TEST_COUNTERS  file that receives what the box has seen and how
//                           many ports are open, as "frames=F handshakes=H
//                           attempts=A written=W open=P"; it appears with the
//                           first port opened.
//
// The box sits behind the first port whose name does not begin with
// "Microsoft" and that is not marked "~"; other ports take frames and never
// answer.
#pragma once

#include <string>
#include <vector>

#include "device_model.h"
#include "platform/sim/sim_host.h"

namespace winmm_double {

struct Config {
    std::vector<sim::PortEntry> inputs, outputs;
    sim::MidiStack stack = sim::MidiStack::winmm;
    bool narrowHandleFault = false;
    device::Faults faults;
    std::string imagePath;
    std::string countersPath;
};

// Reads the configuration; a setting it cannot read ends the process with a
// message on standard error, so that a mistyped test fails loudly.
Config readConfig();

}  // namespace winmm_double
