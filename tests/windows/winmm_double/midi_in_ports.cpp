// The input side of the stand-in winmm: ports by device number, the buffer
// queue of midiInAddBuffer, and a thread of its own that hands the box's
// answers to the program's callback when they are due, as a driver does.
#include <cstring>

#include "double_state.h"

namespace winmm_double {

namespace {

// The delivery thread runs while any input port is open. Each thread knows the
// generation it was started for and ends once that has passed.
HANDLE deliveryThread;
DWORD deliveryGeneration;

InPort *findIn(State &s, HMIDIIN handle) { return findPort(s.inPorts, handle); }

HMIDIIN handleOf(InPort &port) { return reinterpret_cast<HMIDIIN>(&port); }

// The box answers on the first open box port that has been started; a port
// that is stopped, or has no buffer for a SysEx message, loses the message.
InPort *boxInput(State &s) {
    for (size_t i = 0; i < s.inPorts.size(); ++i)
        if (s.config.ports[i].box && s.inPorts[i].open && s.inPorts[i].started) return &s.inPorts[i];
    return nullptr;
}

// One callback to make, decided under the lock and made without it.
struct Delivery {
    DWORD_PTR callback = 0;
    HMIDIIN handle = nullptr;
    UINT message = 0;
    DWORD_PTR instance = 0;
    DWORD_PTR param1 = 0;
    DWORD_PTR param2 = 0;
};

Delivery takeDue(State &s, ULONGLONG tick) {
    Delivery delivery;
    PendingMessage due = s.pending.front();
    s.pending.pop_front();
    InPort *port = boxInput(s);
    if (port == nullptr || due.bytes.empty()) return delivery;
    DWORD_PTR timestamp = static_cast<DWORD_PTR>(tick - port->startTick);
    if (due.bytes[0] == 0xF0) {
        if (port->buffers.empty()) return delivery;
        MIDIHDR *header = port->buffers.front();
        port->buffers.pop_front();
        // Never beyond the buffer; the rest of an overlong message is lost.
        size_t length = due.bytes.size() < header->dwBufferLength ? due.bytes.size() : header->dwBufferLength;
        std::memcpy(header->lpData, due.bytes.data(), length);
        header->dwBytesRecorded = static_cast<DWORD>(length);
        header->dwFlags = (header->dwFlags & ~static_cast<DWORD>(MHDR_INQUEUE)) | MHDR_DONE;
        delivery.message = MIM_LONGDATA;
        delivery.param1 = reinterpret_cast<DWORD_PTR>(header);
    } else {
        // A short message: up to three bytes packed, status byte lowest.
        DWORD packed = 0;
        for (size_t i = 0; i < due.bytes.size() && i < 3; ++i) packed |= static_cast<DWORD>(due.bytes[i]) << (8 * i);
        delivery.message = MIM_DATA;
        delivery.param1 = packed;
    }
    delivery.callback = port->callback;
    delivery.handle = handleOf(*port);
    delivery.instance = port->instance;
    delivery.param2 = timestamp;
    return delivery;
}

DWORD WINAPI deliver(LPVOID parameter) {
    DWORD generation = static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(parameter));
    for (;;) {
        DWORD waitMs = INFINITE;
        bool took = false;
        Delivery delivery;
        {
            Locked locked;
            State &s = state();
            if (generation != deliveryGeneration) return 0;
            if (!s.pending.empty()) {
                ULONGLONG tick = now();
                if (s.pending.front().due <= tick) {
                    delivery = takeDue(s, tick);
                    took = true;
                } else {
                    waitMs = static_cast<DWORD>(s.pending.front().due - tick);
                }
            }
        }
        if (took) {
            if (delivery.message != 0)
                notify(delivery.callback, delivery.handle, delivery.message, delivery.instance, delivery.param1,
                       delivery.param2);
            continue;
        }
        WaitForSingleObject(wakeEvent(), waitMs);
    }
}

// Lock held.
void startDelivery() {
    if (deliveryThread != nullptr) return;
    ++deliveryGeneration;
    deliveryThread =
        CreateThread(nullptr, 0, deliver, reinterpret_cast<LPVOID>(DWORD_PTR(deliveryGeneration)), 0, nullptr);
}

// Lock not held: waits for the thread to end, unless it is the caller.
void stopDelivery() {
    HANDLE thread;
    {
        Locked locked;
        thread = deliveryThread;
        deliveryThread = nullptr;
        ++deliveryGeneration;
    }
    SetEvent(wakeEvent());
    if (thread == nullptr) return;
    if (GetThreadId(thread) != GetCurrentThreadId()) WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
}

}  // namespace

}  // namespace winmm_double

using namespace winmm_double;

MMRESULT WINAPI midiInGetDevCapsA(UINT_PTR deviceId, LPMIDIINCAPSA caps, UINT size) {
    return describePort(deviceId, caps, size, MIDIINCAPSA());
}

MMRESULT WINAPI midiInOpen(LPHMIDIIN handle, UINT deviceId, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
    if (handle == nullptr) return MMSYSERR_INVALPARAM;
    InPort *port = nullptr;
    DWORD_PTR function = 0;
    {
        Locked locked;
        State &s = state();
        MMRESULT result = openPort(s, s.inPorts, deviceId, callback, instance, flags, &port);
        if (result != MMSYSERR_NOERROR) return result;
        *handle = handleOf(*port);
        function = port->callback;
        startDelivery();
    }
    notify(function, *handle, MIM_OPEN, instance, 0, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInPrepareHeader(HMIDIIN handle, LPMIDIHDR header, UINT size) {
    Locked locked;
    if (findIn(state(), handle) == nullptr) return MMSYSERR_INVALHANDLE;
    return prepareHeader(header, size);
}

MMRESULT WINAPI midiInUnprepareHeader(HMIDIIN handle, LPMIDIHDR header, UINT size) {
    Locked locked;
    if (findIn(state(), handle) == nullptr) return MMSYSERR_INVALHANDLE;
    return unprepareHeader(header, size);
}

MMRESULT WINAPI midiInAddBuffer(HMIDIIN handle, LPMIDIHDR header, UINT size) {
    Locked locked;
    InPort *port = findIn(state(), handle);
    if (port == nullptr) return MMSYSERR_INVALHANDLE;
    if (!validHeader(header, size)) return MMSYSERR_INVALPARAM;
    if (!(header->dwFlags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    header->dwFlags = (header->dwFlags & ~static_cast<DWORD>(MHDR_DONE)) | MHDR_INQUEUE;
    header->dwBytesRecorded = 0;
    port->buffers.push_back(header);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInStart(HMIDIIN handle) {
    Locked locked;
    InPort *port = findIn(state(), handle);
    if (port == nullptr) return MMSYSERR_INVALHANDLE;
    if (!port->started) port->startTick = now();
    port->started = true;
    return MMSYSERR_NOERROR;
}

// Stops input and hands every queued buffer back, done and empty, through the
// callback.
MMRESULT WINAPI midiInReset(HMIDIIN handle) {
    std::deque<MIDIHDR *> returned;
    DWORD_PTR callback, instance;
    {
        Locked locked;
        InPort *port = findIn(state(), handle);
        if (port == nullptr) return MMSYSERR_INVALHANDLE;
        port->started = false;
        returned.swap(port->buffers);
        for (MIDIHDR *header : returned) {
            header->dwBytesRecorded = 0;
            header->dwFlags = (header->dwFlags & ~static_cast<DWORD>(MHDR_INQUEUE)) | MHDR_DONE;
        }
        callback = port->callback;
        instance = port->instance;
    }
    for (MIDIHDR *header : returned)
        notify(callback, handle, MIM_LONGDATA, instance, reinterpret_cast<DWORD_PTR>(header), 0);
    return MMSYSERR_NOERROR;
}

// Refused while buffers are queued, as Windows does: they must be taken back
// by midiInReset first.
MMRESULT WINAPI midiInClose(HMIDIIN handle) {
    DWORD_PTR callback, instance;
    bool lastOpen = true;
    {
        Locked locked;
        State &s = state();
        InPort *port = findIn(s, handle);
        if (port == nullptr) return MMSYSERR_INVALHANDLE;
        if (!port->buffers.empty()) return MIDIERR_STILLPLAYING;
        port->open = false;
        port->started = false;
        callback = port->callback;
        instance = port->instance;
        size_t index = static_cast<size_t>(port - s.inPorts.data());
        // Answers still on their way to a closed port are lost.
        if (s.config.ports[index].box) s.pending.clear();
        for (const InPort &other : s.inPorts) lastOpen = lastOpen && !other.open;
        writeReport(s);
    }
    notify(callback, handle, MIM_CLOSE, instance, 0, 0);
    if (lastOpen) stopDelivery();
    return MMSYSERR_NOERROR;
}
