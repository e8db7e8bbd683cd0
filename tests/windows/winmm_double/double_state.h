// The state the stand-in winmm shares between the program's thread and its own
// delivery thread: the port table, the box, and the box's answers on their way
// to the program. One lock guards all of it; callbacks into the program are
// always made with the lock released, as a driver must, because the program's
// callback calls back into winmm (midiInAddBuffer).
#pragma once

#include <windows.h>

#include <mmsystem.h>
// MM_UNMAPPED: the maker and product ids of a port no maker registered.
#include <mmreg.h>

#include <deque>
#include <memory>
#include <vector>

#include "device_model.h"
#include "double_config.h"

namespace winmm_double {

struct InPort {
    bool open = false;
    bool started = false;
    DWORD_PTR callback = 0;  // a function, or 0 for none
    DWORD_PTR instance = 0;
    ULONGLONG startTick = 0;
    std::deque<MIDIHDR *> buffers;  // queued by midiInAddBuffer, filled in order
};

struct OutPort {
    bool open = false;
    DWORD_PTR callback = 0;
    DWORD_PTR instance = 0;
};

// A message from the box, due on the input side at a given tick.
struct PendingMessage {
    device::Bytes bytes;
    ULONGLONG due;
};

struct State {
    Config config;
    std::unique_ptr<device::Model> box;
    // Sized once from the table and never resized: handles point into them.
    std::vector<InPort> inPorts;
    std::vector<OutPort> outPorts;
    std::deque<PendingMessage> pending;  // in order of their due ticks
};

// Holds the lock for its scope.
class Locked {
  public:
    Locked();
    ~Locked();
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;
};

// The state, set up from the environment on first use; call with the lock held.
State &state();

// Set when a message is queued for delivery or the delivery thread must look
// again.
HANDLE wakeEvent();

ULONGLONG now();

// Calls a port's function callback, if it has one; call without the lock.
void notify(DWORD_PTR callback, HANDLE handle, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2);

// Writes the box's image, its counters and the number of ports open now to
// the files the test named. Called after every frame to the box and every
// open and close, so that the files show the state at the end of the run.
void writeReport(const State &s);

}  // namespace winmm_double
