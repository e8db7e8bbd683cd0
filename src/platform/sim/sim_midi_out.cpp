// The output side of the simulated host's winmm: every frame sent on the
// device's port is recorded with its time and handed to the peer at once.

#include "platform/sim/delivery_engine.h"
#include "platform/sim/host_lock.h"
#include "platform/sim/port_table.h"
#include "platform/sim/virtual_clock.h"

using sim::hostLock;
using sim::ports;

UINT midiOutGetNumDevs() {
    std::lock_guard<std::mutex> guard(hostLock);
    ports.outCounted = true;
    return static_cast<UINT>(ports.outputs.size());
}

MMRESULT midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR, DWORD_PTR, DWORD) {
    std::lock_guard<std::mutex> guard(hostLock);
    ports.log.push_back("midiOutOpen " + std::to_string(uDeviceID));
    if (uDeviceID >= ports.outCount) return MMSYSERR_BADDEVICEID;
    if (ports.stack == sim::MidiStack::midiServices && !ports.outCounted) return MMSYSERR_BADDEVICEID;
    if (ports.outputs[uDeviceID].failsOpen || ports.out[uDeviceID].open) return MMSYSERR_ALLOCATED;
    ports.out[uDeviceID].open = true;
    ports.out[uDeviceID].sendsFail = false;
    *phmo = &ports.out[uDeviceID];
    return MMSYSERR_NOERROR;
}

MMRESULT midiOutGetDevCapsA(UINT_PTR uDeviceID, LPMIDIOUTCAPSA pmoc, UINT cbmoc) {
    std::lock_guard<std::mutex> guard(hostLock);
    return sim::copyCaps(ports.outputs, uDeviceID, pmoc, cbmoc);
}

MMRESULT midiOutPrepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT) {
    std::lock_guard<std::mutex> guard(hostLock);
    if (sim::openOutIndex(hmo) < 0) return MMSYSERR_INVALHANDLE;
    pmh->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

// A test may have the next unprepares report the frame still playing.
MMRESULT midiOutUnprepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT) {
    std::lock_guard<std::mutex> guard(hostLock);
    if (sim::openOutIndex(hmo) < 0) return MMSYSERR_INVALHANDLE;
    if (ports.stillPlayingReplies > 0) {
        ports.stillPlayingReplies--;
        return MIDIERR_STILLPLAYING;
    }
    pmh->dwFlags &= ~DWORD(MHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

// The frame is recorded and handed to the peer when it goes out on the
// device's port; the call returns once the peer has it. A frame the peer
// refuses fails the send at once, or on Windows 11's MIDI service after its
// 1 s time-out, and then every later send on the port at once.
MMRESULT midiOutLongMsg(HMIDIOUT hmo, LPMIDIHDR pmh, UINT) {
    const uint32_t servicesTimeoutMs = 1000;
    std::unique_lock<std::mutex> held(hostLock);
    int i = sim::openOutIndex(hmo);
    if (i < 0) return MMSYSERR_INVALHANDLE;
    if (!(pmh->dwFlags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    if (hmo->sendsFail) return MMSYSERR_ERROR;
    if (i != sim::firstDevicePort(ports.outputs)) return MMSYSERR_NOERROR;
    const uint8_t *data = reinterpret_cast<const uint8_t *>(pmh->lpData);
    uint64_t now = sim::clockNowMs();
    ports.frames.push_back({now, std::vector<uint8_t>(data, data + pmh->dwBufferLength)});
    sim::Peer *peer = ports.peer;
    held.unlock();
    bool accepted = peer == nullptr || peer->onFrame(data, pmh->dwBufferLength, now);
    if (accepted) return MMSYSERR_NOERROR;
    held.lock();
    if (ports.stack != sim::MidiStack::midiServices) return MMSYSERR_NODRIVER;
    held.unlock();
    sim::sleepOnClock(servicesTimeoutMs);
    held.lock();
    hmo->sendsFail = true;
    return MMSYSERR_ERROR;
}

MMRESULT midiOutClose(HMIDIOUT hmo) {
    std::lock_guard<std::mutex> guard(hostLock);
    int i = sim::openOutIndex(hmo);
    if (i < 0) return MMSYSERR_INVALHANDLE;
    ports.log.push_back("midiOutClose " + std::to_string(i));
    ports.out[i].open = false;
    return MMSYSERR_NOERROR;
}
