// The output side of the stand-in winmm: every SysEx frame sent to a box port
// goes to the device model at once, and its answers are queued for the input
// side with the model's delays. Sending is synchronous: the header is done
// when midiOutLongMsg returns.
#include <iterator>

#include "double_state.h"

namespace winmm_double {

namespace {

// Keeps the queue in order of due ticks; equal ticks stay in sending order.
void queueAnswer(State &s, const device::Outgoing &answer, ULONGLONG tick) {
    PendingMessage message{answer.bytes, tick + answer.delayMs};
    auto place = s.pending.end();
    while (place != s.pending.begin() && std::prev(place)->due > message.due) --place;
    s.pending.insert(place, message);
}

}  // namespace

}  // namespace winmm_double

using namespace winmm_double;

MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR deviceId, LPMIDIOUTCAPSA caps, UINT size) {
    MIDIOUTCAPSA filled = MIDIOUTCAPSA();
    filled.wTechnology = MOD_MIDIPORT;
    filled.wChannelMask = 0xFFFF;
    return describePort(deviceId, caps, size, filled);
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT handle, UINT deviceId, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
    if (handle == nullptr) return MMSYSERR_INVALPARAM;
    OutPort *port = nullptr;
    DWORD_PTR function = 0;
    {
        Locked locked;
        State &s = state();
        MMRESULT result = openPort(s, s.outPorts, deviceId, callback, instance, flags, &port);
        if (result != MMSYSERR_NOERROR) return result;
        *handle = reinterpret_cast<HMIDIOUT>(port);
        function = port->callback;
    }
    notify(function, *handle, MOM_OPEN, instance, 0, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    Locked locked;
    if (findPort(state().outPorts, handle) == nullptr) return MMSYSERR_INVALHANDLE;
    return prepareHeader(header, size);
}

MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    Locked locked;
    if (findPort(state().outPorts, handle) == nullptr) return MMSYSERR_INVALHANDLE;
    return unprepareHeader(header, size);
}

MMRESULT WINAPI midiOutLongMsg(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    DWORD_PTR callback, instance;
    {
        Locked locked;
        State &s = state();
        OutPort *port = findPort(s.outPorts, handle);
        if (port == nullptr) return MMSYSERR_INVALHANDLE;
        size_t index = static_cast<size_t>(port - s.outPorts.data());
        if (!validHeader(header, size)) return MMSYSERR_INVALPARAM;
        if (!(header->dwFlags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
        if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
        header->dwFlags &= ~static_cast<DWORD>(MHDR_DONE);
        if (s.config.ports[index].box) {
            device::FrameResult result =
                s.box->onFrame(reinterpret_cast<const uint8_t *>(header->lpData), header->dwBufferLength);
            writeReport(s);
            // A box whose input has stopped working: the device is gone.
            if (!result.accepted) return MMSYSERR_NODRIVER;
            ULONGLONG tick = now();
            for (const device::Outgoing &answer : result.messages) queueAnswer(s, answer, tick);
            if (!result.messages.empty()) SetEvent(wakeEvent());
        }
        header->dwFlags |= MHDR_DONE;
        callback = port->callback;
        instance = port->instance;
    }
    notify(callback, handle, MOM_DONE, instance, reinterpret_cast<DWORD_PTR>(header), 0);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutClose(HMIDIOUT handle) {
    DWORD_PTR callback, instance;
    {
        Locked locked;
        OutPort *port = findPort(state().outPorts, handle);
        if (port == nullptr) return MMSYSERR_INVALHANDLE;
        port->open = false;
        writeReport(state());
        callback = port->callback;
        instance = port->instance;
    }
    notify(callback, handle, MOM_CLOSE, instance, 0, 0);
    return MMSYSERR_NOERROR;
}
