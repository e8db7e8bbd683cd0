// The simulated platform: a virtual MIDI host and a virtual clock behind the
// same Windows names as the real platforms, for scenario tests, benchmarks and
// fuzzers. This header is what they use to set the host up and look at it.
//
// The host has a table of input and output ports. A peer (normally the device
// model) is attached to the first input and output ports whose names do not
// begin with "Microsoft", letter case ignored. Every frame the program sends
// on that output is recorded with its virtual time and handed to the peer;
// what the peer posts is delivered to the program's callback on a thread of
// the host's own, at the points the clock decides: in virtual mode Sleep(ms)
// advances the clock, delivers everything due by then, and returns when that
// is done.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// One line of the host's port table: the product name the port reports,
// whether opening it fails, as for a port another program holds, and whether
// it is a port with no device behind it (a loopback or another program's
// virtual port): it takes frames and never answers, and the peer is never
// attached to it.
struct PortEntry {
    std::string name;
    bool failsOpen = false;
    bool virtualPort = false;
};

class Peer {
  public:
    virtual ~Peer() = default;
    // A whole frame the program sent, at virtual time nowMs. Returning false
    // makes the send fail, as a vanished device would.
    virtual bool onFrame(const uint8_t *frame, size_t length, uint64_t nowMs) = 0;
};

struct SentFrame {
    uint64_t atMs;
    std::vector<uint8_t> bytes;
};

enum class ClockMode { virtualTime, realTime };

// The Windows MIDI stack the host plays: the classic winmm, or Windows 11's
// MIDI Services (wdmaud2.drv), which refuses to open a port by number until
// the ports of that direction have been counted, hands a SysEx message longer
// than the queued buffer over in several buffers, calls back from midiInReset
// until no buffer is queued, and fails a send it could not pass on after 1 s
// with MMSYSERR_ERROR, and every later send on that port at once.
enum class MidiStack { winmm, midiServices };

// Starts afresh: no ports, no peer, no traffic, the clock at 0. Call only
// while the program is not running.
void reset(ClockMode mode = ClockMode::virtualTime);

void setInputPorts(const std::vector<PortEntry> &ports);
void setOutputPorts(const std::vector<PortEntry> &ports);
// The usual machine: one USB device as port 0 on both sides.
void setSingleDevice(const std::string &name = "USB Device");
void attachPeer(Peer *peer);
void setMidiStack(MidiStack stack);

// Posts a message for the program, due delayMs after the current time. A
// message beginning with 0xF0 is SysEx; anything else of 1 to 3 bytes is a
// short message. Callable from the peer's onFrame.
void post(const std::vector<uint8_t> &bytes, uint64_t delayMs = 0);

// How many times the next sends' unprepare reports the frame still playing.
void setStillPlayingReplies(int count);

uint64_t nowMs();
std::vector<SentFrame> sentFrames();
// Platform calls that open, reset and close ports, in order, such as
// "midiInOpen 0", "midiInClose 0", "midiOutClose 1".
std::vector<std::string> portLog();
// Messages that reached the program's callback, by kind.
int longDataDelivered();
int shortDataDelivered();
int messagesDropped();
int pauseCount();

}  // namespace sim
