// One whole run of the updater, from its entry, on the simulated host with
// the device model as the box: in a fresh folder that holds only the kit,
// with the program's output captured byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device_model.h"
#include "platform/sim/sim_host.h"

namespace testkit {

struct Setup {
    std::string kitName = "Tarnwick_Box.kit";
    std::string kitText;
    std::vector<sim::PortEntry> inputs = {{"USB Device", false}};
    std::vector<sim::PortEntry> outputs = {{"USB Device", false}};
    sim::ClockMode clock = sim::ClockMode::virtualTime;
    sim::MidiStack stack = sim::MidiStack::winmm;
};

struct RunResult {
    int exitStatus;
    std::string output;
    std::vector<sim::SentFrame> frames;
    uint64_t endMs;  // virtual time when the run returned
    std::vector<std::string> portLog;
    int pauses;
    int shortMessages;  // short messages that reached the program's callback
    int longMessages;   // SysEx messages that reached it
    // The run itself, without setting up: wall time, and the whole process's
    // CPU time (the host's thread works too).
    double wallSeconds;
    double cpuSeconds;
};

// Runs the updater once against peer. The host, the clock and the program's
// mailbox start afresh; the working folder is restored and removed after.
RunResult runUpdateWith(const Setup &setup, sim::Peer &peer);

// The same with the device model as the peer.
RunResult runUpdateAgainst(const Setup &setup, device::Model &model);

}  // namespace testkit
