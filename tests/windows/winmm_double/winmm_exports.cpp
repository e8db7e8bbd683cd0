// winmm's exports over the simulated host, run on the real clock, with the
// device model as its peer. The host is set up from the environment on the
// first open or description of a port; every other call names an open port.
// Built on the host's own Windows subset, so the exports spell out winmm's
// calling convention, and the program's callback (stdcall) is reached through
// a relay that the host calls its own way.
#include <cstdio>
#include <mutex>

#include "device_model.h"
#include "double_config.h"
#include "platform/sim/delivery_engine.h"
#include "platform/sim/host_lock.h"
#include "platform/sim/port_table.h"
#include "platform/sim/virtual_clock.h"

#define WINMM_EXPORT extern "C" __stdcall

namespace {

winmm_double::Config config;
device::Model *box;

typedef void(__stdcall *ProgramCallback)(HMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

// The program's callback and instance by input port; the host has the port's
// number as the instance.
struct Relay {
    ProgramCallback callback;
    DWORD_PTR instance;
};
Relay relays[sim::maxOpenablePorts];

void relay(HMIDIIN handle, UINT message, DWORD_PTR port, DWORD_PTR param1, DWORD_PTR param2) {
    const Relay &to = relays[port];
    if (to.callback != nullptr) to.callback(handle, message, to.instance, param1, param2);
}

void writeFile(const std::string &path, const void *bytes, size_t length) {
    if (path.empty()) return;
    FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return;
    if (length != 0) std::fwrite(bytes, 1, length, file);
    std::fclose(file);
}

unsigned portsOpen() {
    std::lock_guard<std::mutex> guard(sim::hostLock);
    unsigned open = 0;
    for (size_t i = 0; i < sim::ports.inCount; ++i) open += sim::ports.in[i].open() ? 1 : 0;
    for (size_t i = 0; i < sim::ports.outCount; ++i) open += sim::ports.out[i].open ? 1 : 0;
    return open;
}

// Writes the box's image, its counters and the number of ports open now to
// the files the test named. Called after every frame to the box and every
// open and close, so that the files show the state at the end of the run.
void writeReport() {
    const device::Bytes &image = box->image();
    writeFile(config.imagePath, image.data(), image.size());
    const device::Counters &c = box->counters();
    char line[128];
    int length = std::snprintf(line, sizeof line, "frames=%u handshakes=%u attempts=%u written=%u open=%u\n", c.frames,
                               c.handshakes, c.recordAttempts, c.recordsWritten, portsOpen());
    writeFile(config.countersPath, line, static_cast<size_t>(length));
}

struct BoxPeer : sim::Peer {
    bool onFrame(const uint8_t *frame, size_t length, uint64_t) override {
        device::FrameResult result = box->onFrame(frame, length);
        writeReport();
        // A box whose input has stopped working: the device is gone.
        if (!result.accepted) return false;
        for (const device::Outgoing &answer : result.messages) sim::post(answer.bytes, answer.delayMs);
        return true;
    }
};

void setUp() {
    config = winmm_double::readConfig();
    static device::Model model(config.faults);
    static BoxPeer peer;
    box = &model;
    {
        std::lock_guard<std::mutex> guard(sim::hostLock);
        sim::resetClock(sim::ClockMode::realTime);
    }
    sim::setInputPorts(config.inputs);
    sim::setOutputPorts(config.outputs);
    sim::setMidiStack(config.stack);
    sim::attachPeer(&peer);
}

void setUpOnce() {
    static std::once_flag once;
    std::call_once(once, setUp);
}

// The host's thread runs while a port is open: it starts with the first and
// is stopped with the last, so that it has ended before the process does.
MMRESULT opened(MMRESULT result) {
    if (result != MMSYSERR_NOERROR) return result;
    if (portsOpen() == 1) {
        std::lock_guard<std::mutex> guard(sim::hostLock);
        sim::resetDelivery();
    }
    writeReport();
    return result;
}

MMRESULT closed(MMRESULT result) {
    if (result != MMSYSERR_NOERROR) return result;
    if (portsOpen() == 0) sim::stopDelivery();
    writeReport();
    return result;
}

}  // namespace

WINMM_EXPORT UINT exportMidiInGetNumDevs() {
    setUpOnce();
    return midiInGetNumDevs();
}

WINMM_EXPORT MMRESULT exportMidiInGetDevCapsA(UINT_PTR id, LPMIDIINCAPSA caps, UINT size) {
    setUpOnce();
    return midiInGetDevCapsA(id, caps, size);
}

WINMM_EXPORT MMRESULT exportMidiInOpen(LPHMIDIIN handle, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
    setUpOnce();
    MMRESULT result = midiInOpen(handle, id, reinterpret_cast<DWORD_PTR>(&relay), id, flags);
    if (result == MMSYSERR_NOERROR) relays[id] = {reinterpret_cast<ProgramCallback>(callback), instance};
    return opened(result);
}

WINMM_EXPORT MMRESULT exportMidiInPrepareHeader(HMIDIIN handle, LPMIDIHDR header, UINT size) {
    return midiInPrepareHeader(handle, header, size);
}

WINMM_EXPORT MMRESULT exportMidiInUnprepareHeader(HMIDIIN handle, LPMIDIHDR header, UINT size) {
    return midiInUnprepareHeader(handle, header, size);
}

WINMM_EXPORT MMRESULT exportMidiInAddBuffer(HMIDIIN handle, LPMIDIHDR header, UINT size) {
    return midiInAddBuffer(handle, header, size);
}

WINMM_EXPORT MMRESULT exportMidiInStart(HMIDIIN handle) { return midiInStart(handle); }

WINMM_EXPORT MMRESULT exportMidiInReset(HMIDIIN handle) { return midiInReset(handle); }

WINMM_EXPORT MMRESULT exportMidiInClose(HMIDIIN handle) { return closed(midiInClose(handle)); }

WINMM_EXPORT UINT exportMidiOutGetNumDevs() {
    setUpOnce();
    return midiOutGetNumDevs();
}

WINMM_EXPORT MMRESULT exportMidiOutGetDevCapsA(UINT_PTR id, LPMIDIOUTCAPSA caps, UINT size) {
    setUpOnce();
    return midiOutGetDevCapsA(id, caps, size);
}

WINMM_EXPORT MMRESULT exportMidiOutOpen(LPHMIDIOUT handle, UINT id, DWORD_PTR callback, DWORD_PTR instance,
                                        DWORD flags) {
    setUpOnce();
    return opened(midiOutOpen(handle, id, callback, instance, flags));
}

WINMM_EXPORT MMRESULT exportMidiOutPrepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    return midiOutPrepareHeader(handle, header, size);
}

WINMM_EXPORT MMRESULT exportMidiOutUnprepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    return midiOutUnprepareHeader(handle, header, size);
}

WINMM_EXPORT MMRESULT exportMidiOutLongMsg(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    if (config.narrowHandleFault && sizeof(void *) == 4) return MMSYSERR_ERROR;
    return midiOutLongMsg(handle, header, size);
}

WINMM_EXPORT MMRESULT exportMidiOutClose(HMIDIOUT handle) { return closed(midiOutClose(handle)); }

WINMM_EXPORT MMRESULT exportTimeBeginPeriod(UINT period) { return timeBeginPeriod(period); }

WINMM_EXPORT MMRESULT exportTimeEndPeriod(UINT period) { return timeEndPeriod(period); }
