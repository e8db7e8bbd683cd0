// The output side of the stand-in winmm: every SysEx frame sent to a box port
// goes to the device model at once, and its answers are queued for the input
// side with the model's delays. Sending is synchronous: the header is done
// when midiOutLongMsg returns.
#include <cstring>

#include "double_state.h"

namespace winmm_double {

namespace {

OutPort *findOut(State &s, HMIDIOUT handle, size_t *index) {
    for (size_t i = 0; i < s.outPorts.size(); ++i) {
        if (handle == reinterpret_cast<HMIDIOUT>(&s.outPorts[i]) && s.outPorts[i].open) {
            *index = i;
            return &s.outPorts[i];
        }
    }
    return nullptr;
}

bool validHeader(const MIDIHDR *header, UINT size) {
    return header != nullptr && size >= sizeof(MIDIHDR) && header->lpData != nullptr;
}

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
    if (caps == nullptr) return MMSYSERR_INVALPARAM;
    Locked locked;
    State &s = state();
    if (deviceId >= s.outPorts.size()) return MMSYSERR_BADDEVICEID;
    MIDIOUTCAPSA filled;
    std::memset(&filled, 0, sizeof filled);
    filled.wMid = MM_UNMAPPED;
    filled.wPid = MM_PID_UNMAPPED;
    filled.vDriverVersion = 0x0100;
    std::strncpy(filled.szPname, s.config.ports[deviceId].name.c_str(), MAXPNAMELEN - 1);
    filled.wTechnology = MOD_MIDIPORT;
    filled.wChannelMask = 0xFFFF;
    std::memcpy(caps, &filled, size < sizeof filled ? size : sizeof filled);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT handle, UINT deviceId, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
    if (handle == nullptr) return MMSYSERR_INVALPARAM;
    DWORD callbackType = flags & CALLBACK_TYPEMASK;
    if (callbackType != CALLBACK_NULL && callbackType != CALLBACK_FUNCTION) return MMSYSERR_NOTSUPPORTED;
    DWORD_PTR function = callbackType == CALLBACK_FUNCTION ? callback : 0;
    {
        Locked locked;
        State &s = state();
        if (deviceId >= s.outPorts.size()) return MMSYSERR_BADDEVICEID;
        OutPort &port = s.outPorts[deviceId];
        if (s.config.ports[deviceId].held || port.open) return MMSYSERR_ALLOCATED;
        port = OutPort();
        port.open = true;
        port.callback = function;
        port.instance = instance;
        *handle = reinterpret_cast<HMIDIOUT>(&port);
        writeReport(s);
    }
    notify(function, *handle, MOM_OPEN, instance, 0, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    Locked locked;
    size_t index;
    if (findOut(state(), handle, &index) == nullptr) return MMSYSERR_INVALHANDLE;
    if (!validHeader(header, size)) return MMSYSERR_INVALPARAM;
    header->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    Locked locked;
    size_t index;
    if (findOut(state(), handle, &index) == nullptr) return MMSYSERR_INVALHANDLE;
    if (!validHeader(header, size)) return MMSYSERR_INVALPARAM;
    if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    header->dwFlags &= ~static_cast<DWORD>(MHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutLongMsg(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    DWORD_PTR callback, instance;
    {
        Locked locked;
        State &s = state();
        size_t index;
        OutPort *port = findOut(s, handle, &index);
        if (port == nullptr) return MMSYSERR_INVALHANDLE;
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
        size_t index;
        State &s = state();
        OutPort *port = findOut(s, handle, &index);
        if (port == nullptr) return MMSYSERR_INVALHANDLE;
        port->open = false;
        writeReport(s);
        callback = port->callback;
        instance = port->instance;
    }
    notify(callback, handle, MOM_CLOSE, instance, 0, 0);
    return MMSYSERR_NOERROR;
}
