// The input side of the simulated host's winmm: the device's messages go to
// the program's callback as Windows hands them over, SysEx into the queued
// buffers, short messages packed into the call itself.

#include "platform/sim/host_lock.h"
#include "platform/sim/port_table.h"

namespace sim {

namespace {

// The callback runs without the lock, so that it may queue the buffer again.
void callProgram(std::unique_lock<std::mutex> &held, HMIDIIN__ &port, UINT message, DWORD_PTR param1) {
    MIDIINPROC callback = port.callback;
    DWORD_PTR instance = port.instance;
    held.unlock();
    if (callback) callback(&port, message, instance, param1, 0);
    held.lock();
}

DWORD packShortMessage(const std::vector<uint8_t> &bytes) {
    DWORD packed = 0;
    for (size_t i = 0; i < bytes.size() && i < 3; ++i) packed |= DWORD(bytes[i]) << (8 * i);
    return packed;
}

}  // namespace

void deliverToProgram(std::unique_lock<std::mutex> &held, const std::vector<uint8_t> &bytes) {
    int device = firstDevicePort(ports.inputs);
    if (device < 0 || size_t(device) >= ports.inCount || !ports.in[device].open() ||
        !ports.in[device].buffers->receiving()) {
        ports.dropped++;
        return;
    }
    HMIDIIN__ &port = ports.in[device];
    if (bytes.empty() || bytes[0] != 0xF0) {
        ports.shortDelivered++;
        callProgram(held, port, MIM_DATA, packShortMessage(bytes));
        return;
    }
    MIDIHDR *header = port.buffers->fill(bytes.data(), bytes.size());
    size_t handedOver = 0;
    for (;;) {
        if (header == nullptr) {
            ports.dropped++;
            return;
        }
        handedOver += header->dwBytesRecorded;
        ports.longDelivered++;
        callProgram(held, port, MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header));
        // Windows 11's MIDI service goes on with the rest of a message longer
        // than the buffer in the next queued one; winmm drops it.
        if (ports.stack != MidiStack::midiServices || handedOver == bytes.size()) return;
        if (!port.open() || !port.buffers->receiving()) {
            ports.dropped++;
            return;
        }
        header = port.buffers->fillPart(bytes.data() + handedOver, bytes.size() - handedOver);
    }
}

}  // namespace sim

using sim::hostLock;
using sim::ports;

UINT midiInGetNumDevs() {
    std::lock_guard<std::mutex> guard(hostLock);
    ports.inCounted = true;
    return static_cast<UINT>(ports.inputs.size());
}

MMRESULT midiInOpen(LPHMIDIIN phmi, UINT uDeviceID, DWORD_PTR dwCallback, DWORD_PTR dwInstance, DWORD fdwOpen) {
    std::lock_guard<std::mutex> guard(hostLock);
    ports.log.push_back("midiInOpen " + std::to_string(uDeviceID));
    if (uDeviceID >= ports.inCount) return MMSYSERR_BADDEVICEID;
    if (ports.stack == sim::MidiStack::midiServices && !ports.inCounted) return MMSYSERR_BADDEVICEID;
    HMIDIIN__ &port = ports.in[uDeviceID];
    if (ports.inputs[uDeviceID].failsOpen || port.open()) return MMSYSERR_ALLOCATED;
    port.buffers.emplace();
    port.callback = fdwOpen == CALLBACK_FUNCTION ? reinterpret_cast<MIDIINPROC>(dwCallback) : nullptr;
    port.instance = dwInstance;
    *phmi = &port;
    return MMSYSERR_NOERROR;
}

MMRESULT midiInGetDevCapsA(UINT_PTR uDeviceID, LPMIDIINCAPSA pmic, UINT cbmic) {
    std::lock_guard<std::mutex> guard(hostLock);
    return sim::copyCaps(ports.inputs, uDeviceID, pmic, cbmic);
}

MMRESULT midiInPrepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    std::lock_guard<std::mutex> guard(hostLock);
    if (sim::openInIndex(hmi) < 0) return MMSYSERR_INVALHANDLE;
    return hmi->buffers->prepare(pmh, cbmh);
}

MMRESULT midiInUnprepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    std::lock_guard<std::mutex> guard(hostLock);
    if (sim::openInIndex(hmi) < 0) return MMSYSERR_INVALHANDLE;
    return hmi->buffers->unprepare(pmh, cbmh);
}

MMRESULT midiInAddBuffer(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    std::lock_guard<std::mutex> guard(hostLock);
    if (sim::openInIndex(hmi) < 0) return MMSYSERR_INVALHANDLE;
    return hmi->buffers->add(pmh, cbmh);
}

MMRESULT midiInStart(HMIDIIN hmi) {
    std::lock_guard<std::mutex> guard(hostLock);
    if (sim::openInIndex(hmi) < 0) return MMSYSERR_INVALHANDLE;
    hmi->buffers->start();
    return MMSYSERR_NOERROR;
}

// Stops reception and returns every queued buffer, empty, as Windows does.
// Windows 11's MIDI service goes on until no buffer is queued, so a callback
// that queues each one again keeps it going for ever; the host gives up after
// a number of rounds that no sound callback needs, and logs it.
MMRESULT midiInReset(HMIDIIN hmi) {
    const int roundsAtMost = 100;
    std::unique_lock<std::mutex> held(hostLock);
    int i = sim::openInIndex(hmi);
    if (i < 0) return MMSYSERR_INVALHANDLE;
    ports.log.push_back("midiInReset " + std::to_string(i));
    for (int round = 0; round < roundsAtMost; ++round) {
        for (MIDIHDR *header : hmi->buffers->reset())
            sim::callProgram(held, *hmi, MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header));
        if (ports.stack != sim::MidiStack::midiServices || !hmi->open() || !hmi->buffers->holdsBuffers())
            return MMSYSERR_NOERROR;
    }
    ports.log.push_back("midiInReset " + std::to_string(i) + " looped");
    return MMSYSERR_ERROR;
}

// Like Windows, refuses while a buffer is still queued.
MMRESULT midiInClose(HMIDIIN hmi) {
    std::lock_guard<std::mutex> guard(hostLock);
    int i = sim::openInIndex(hmi);
    if (i < 0) return MMSYSERR_INVALHANDLE;
    if (hmi->buffers->holdsBuffers()) {
        ports.log.push_back("midiInClose " + std::to_string(i) + " refused");
        return MIDIERR_STILLPLAYING;
    }
    ports.log.push_back("midiInClose " + std::to_string(i));
    sim::closeInPort(*hmi);
    return MMSYSERR_NOERROR;
}
