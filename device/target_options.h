// The command line of tarnwick-target: which MIDI system to appear on, the
// faults the box shows, and what to report and keep at the end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "device_model.h"

enum class MidiSystem { automatic, alsa, jack };

struct TargetOptions {
    MidiSystem system = MidiSystem::automatic;
    // A kernel raw MIDI device to speak through instead of virtual ports.
    std::string rawMidiDevice;
    // A USB MIDI device on a USB device controller instead: the one named,
    // or the first when the name is empty.
    std::optional<std::string> usbController;
    // The USB device leaves the bus right after accepting this record, its
    // verdict unsent (0: at the greeting, unanswered), and stays away.
    std::optional<uint32_t> unplugAfter;
    std::string name = "Tarnwick Box";
    device::Faults faults;
    // What the image should come to; at most one of the two.
    std::optional<uint32_t> expectSize;
    std::string kitPath;
    std::string savePath;
    // Ends on its own after this many seconds; 0: only when told to.
    uint32_t timeoutSeconds = 0;
};

constexpr int exitSuccess = 0;
constexpr int exitFailure = 1;  // ports not opened, a file not used, or the image not as expected
constexpr int exitUsage = 2;    // the command line itself is wrong

// Fills options from the command line. Returns -1 to go on, or the exit
// status when the program should end at once (--help, or an error already
// reported on standard error).
int parseTargetOptions(int argc, char **argv, TargetOptions &options);

