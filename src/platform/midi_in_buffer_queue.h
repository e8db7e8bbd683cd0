// The buffers an input port holds for SysEx messages, kept the way winmm keeps
// them: the program queues MIDIHDRs, each whole message fills the first one,
// which then leaves the queue marked done. No MIDI library in here: the posix
// and the simulated platform's ports both wrap it and make the callback, and
// the rules can be tested alone.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/platform.h"

class MidiInBufferQueue {
  public:
    MMRESULT prepare(MIDIHDR *header, UINT headerSize);
    // MIDIERR_STILLPLAYING while the buffer is queued.
    MMRESULT unprepare(MIDIHDR *header, UINT headerSize);
    MMRESULT add(MIDIHDR *header, UINT headerSize);

    void start();
    void stop();
    // Started, and neither stopped nor reset since.
    bool receiving();
    // Stops reception and takes every queued buffer out, marked done and
    // empty, for the caller to hand back through the callback.
    std::vector<MIDIHDR *> reset();
    bool holdsBuffers();

    // One message from the library. A whole SysEx message goes into the first
    // queued buffer, cut at its length, and that buffer is returned; anything
    // else, or a message while stopped or without a buffer, is dropped (null).
    MIDIHDR *fill(const unsigned char *message, size_t length);
    // The same for any piece of a message, such as the rest of one that did
    // not fit into the buffer before.
    MIDIHDR *fillPart(const unsigned char *bytes, size_t length);
    // Milliseconds since start(), the time stamp winmm passes with a message.
    DWORD elapsedMs();

  private:
    std::mutex lock;
    std::deque<MIDIHDR *> queued;
    bool started = false;
    std::chrono::steady_clock::time_point startTime;
};
