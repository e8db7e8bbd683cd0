// The rules that turn the port names the MIDI libraries report into the
// numbered device list the Windows calls expose. Plain names in, entries out:
// nothing here touches a MIDI system.
#pragma once

#include <string>
#include <vector>

// Where a port lives: the system's own sequencer (ALSA on Linux, CoreMIDI on
// macOS) or a JACK server.
enum class MidiBackend { system, jack };

struct MidiPortEntry {
    MidiBackend backend;
    // The port's number in its library's own list, for opening it.
    unsigned backendIndex;
    // What midiIn/OutGetDevCapsA reports, at most MAXPNAMELEN - 1 bytes.
    std::string productName;
};

// The names of the clients this layer registers for input and output. Their
// ports, and those of another updater, never count as devices.
extern const char inClientName[];
extern const char outClientName[];

// Device numbers count the system's ports first, then JACK's, in each
// library's order. Ports of our own clients and ports whose name is empty
// (gone between counting and naming) are left out.
std::vector<MidiPortEntry> combinePortLists(const std::vector<std::string> &systemNames,
                                            const std::vector<std::string> &jackNames);
