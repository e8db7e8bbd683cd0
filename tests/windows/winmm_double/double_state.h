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

#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "device_model.h"
#include "double_config.h"

namespace winmm_double {

// What a port of either direction has while open.
struct Port {
    bool open = false;
    DWORD_PTR callback = 0;  // a function, or 0 for none
    DWORD_PTR instance = 0;
};

struct InPort : Port {
    bool started = false;
    ULONGLONG startTick = 0;
    std::deque<MIDIHDR *> buffers;  // queued by midiInAddBuffer, filled in order
};

using OutPort = Port;

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

// The open port a handle stands for (its address), or null. Lock held.
template <class PortType>
PortType *findPort(std::vector<PortType> &ports, const void *handle) {
    for (PortType &port : ports)
        if (handle == &port && port.open) return &port;
    return nullptr;
}

// Opens port deviceId of one direction, for a function callback or none; a
// port held elsewhere or open already is refused. Lock held.
template <class PortType>
MMRESULT openPort(State &s, std::vector<PortType> &ports, UINT deviceId, DWORD_PTR callback, DWORD_PTR instance,
                  DWORD flags, PortType **opened) {
    DWORD callbackType = flags & CALLBACK_TYPEMASK;
    if (callbackType != CALLBACK_NULL && callbackType != CALLBACK_FUNCTION) return MMSYSERR_NOTSUPPORTED;
    if (deviceId >= ports.size()) return MMSYSERR_BADDEVICEID;
    PortType &port = ports[deviceId];
    if (s.config.ports[deviceId].held || port.open) return MMSYSERR_ALLOCATED;
    port = PortType();
    port.open = true;
    port.callback = callbackType == CALLBACK_FUNCTION ? callback : 0;
    port.instance = instance;
    *opened = &port;
    writeReport(s);
    return MMSYSERR_NOERROR;
}

// A port's capabilities, as much of them as the caller's size takes; filled
// brings what only one direction has.
template <class Caps>
MMRESULT describePort(UINT_PTR deviceId, Caps *caps, UINT size, Caps filled) {
    if (caps == nullptr) return MMSYSERR_INVALPARAM;
    Locked locked;
    const State &s = state();
    if (deviceId >= s.config.ports.size()) return MMSYSERR_BADDEVICEID;
    filled.wMid = MM_UNMAPPED;
    filled.wPid = MM_PID_UNMAPPED;
    filled.vDriverVersion = 0x0100;
    std::strncpy(filled.szPname, s.config.ports[deviceId].name.c_str(), MAXPNAMELEN - 1);
    std::memcpy(caps, &filled, size < sizeof filled ? size : sizeof filled);
    return MMSYSERR_NOERROR;
}

// The header rules of both directions: a header needs its data, is prepared
// before use, and stays prepared while queued.
bool validHeader(const MIDIHDR *header, UINT size);
MMRESULT prepareHeader(MIDIHDR *header, UINT size);
MMRESULT unprepareHeader(MIDIHDR *header, UINT size);

}  // namespace winmm_double
