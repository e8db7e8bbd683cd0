// The simulated host's MIDI ports: the tables a test sets, the state of each
// port the program opened, and what the program did with them. Guarded by
// the host lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/midi_in_buffer_queue.h"
#include "platform/platform.h"
#include "platform/sim/sim_host.h"

// Open while it has buffers: a fresh queue each time it is opened.
struct HMIDIIN__ {
    std::optional<MidiInBufferQueue> buffers;
    MIDIINPROC callback = nullptr;
    DWORD_PTR instance = 0;
    bool open() const { return buffers.has_value(); }
};

struct HMIDIOUT__ {
    bool open = false;
    bool sendsFail = false;  // MIDI Services after a send that timed out
};

namespace sim {

// Ports beyond these are listed but cannot be opened.
const size_t maxOpenablePorts = 64;

struct PortTable {
    std::vector<PortEntry> inputs, outputs;
    size_t inCount = 0, outCount = 0;  // ports that can be opened
    HMIDIIN__ in[maxOpenablePorts];
    HMIDIOUT__ out[maxOpenablePorts];
    Peer *peer = nullptr;
    int stillPlayingReplies = 0;
    MidiStack stack = MidiStack::winmm;
    bool inCounted = false, outCounted = false;

    std::vector<SentFrame> frames;
    std::vector<std::string> log;
    int longDelivered = 0, shortDelivered = 0, dropped = 0;
};

extern PortTable ports;

void resetPorts();
// A port's capabilities, input or output alike: only the name is filled in.
template <typename Caps>
MMRESULT copyCaps(const std::vector<PortEntry> &entries, UINT_PTR id, Caps *caps, UINT size) {
    if (id >= entries.size()) return MMSYSERR_BADDEVICEID;
    if (size < sizeof *caps) return MMSYSERR_INVALPARAM;
    std::memset(caps, 0, sizeof *caps);
    std::strncpy(caps->szPname, entries[id].name.c_str(), MAXPNAMELEN - 1);
    return MMSYSERR_NOERROR;
}

// The first port that is neither a system port nor a virtual one, or -1.
int firstDevicePort(const std::vector<PortEntry> &entries);
// The port's number, or -1 when the handle is not an open port.
int openInIndex(HMIDIIN handle);
int openOutIndex(HMIDIOUT handle);
// Back to closed. Buffers still queued, left by an earlier run, are
// forgotten untouched: whoever owned them may be gone.
void closeInPort(HMIDIIN__ &port);

// Hands one message to the device's input port. Host thread, lock held; it is
// let go around the program's callback, which may queue the buffer again.
void deliverToProgram(std::unique_lock<std::mutex> &held, const std::vector<uint8_t> &bytes);

}  // namespace sim
