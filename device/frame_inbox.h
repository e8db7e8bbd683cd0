// Hands frames from the MIDI library's thread to the main thread, and wakes
// the main thread for them or for a signal through one pipe.
#pragma once

#include <chrono>
#include <mutex>
#include <vector>

#include "device_model.h"

using TargetClock = std::chrono::steady_clock;

struct ArrivedFrame {
    device::Bytes bytes;
    TargetClock::time_point arrival;
};

class FrameInbox {
  public:
    // Throws std::runtime_error when the pipe cannot be made.
    FrameInbox();
    ~FrameInbox();
    FrameInbox(const FrameInbox &) = delete;
    FrameInbox &operator=(const FrameInbox &) = delete;

    // Any thread.
    void push(const unsigned char *bytes, size_t length, TargetClock::time_point arrival);

    // Main thread: the frames in their order of arrival, emptying the inbox.
    std::vector<ArrivedFrame> takeAll();

    // Any thread: wakes the main thread without a frame.
    void wake();

    // Waits until woken or for at most timeoutMs (negative: no limit).
    void waitForWake(int timeoutMs);

    // Async-signal-safe: wakes the main thread from a signal handler.
    static void wakeFromSignal();

  private:
    std::mutex mutex_;
    std::vector<ArrivedFrame> frames_;
};
