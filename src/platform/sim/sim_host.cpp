#include "platform/sim/sim_host.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/platform.h"
#include "platform/posix/monotonic_sleep.h"

struct HMIDIIN__ {};
struct HMIDIOUT__ {};

namespace sim {

void resetPauseCount();

namespace {

struct Pending {
    uint64_t atMs;
    uint64_t order;
    std::vector<uint8_t> bytes;
};

struct InPort {
    bool open = false;
    bool started = false;
    MIDIINPROC callback = nullptr;
    DWORD_PTR instance = 0;
    std::deque<MIDIHDR *> queue;
};

struct Host {
    std::mutex lock;
    std::condition_variable work;      // to the host thread: something to deliver or to stop
    std::condition_variable finished;  // to Sleep: delivery up to the clock is done
    ClockMode mode = ClockMode::virtualTime;
    std::chrono::steady_clock::time_point realStart;
    uint64_t clock = 0;        // virtual time
    uint64_t deliveredTo = 0;  // the host thread has delivered everything due by this time
    bool stopping = false;
    bool threadStarted = false;
    std::thread thread;

    std::vector<PortEntry> inputs, outputs;
    std::vector<InPort> inPorts;
    std::vector<bool> outOpen;
    HMIDIIN__ inHandles[64];
    HMIDIOUT__ outHandles[64];
    Peer *peer = nullptr;
    std::vector<Pending> pending;
    uint64_t nextOrder = 0;
    int stillPlayingReplies = 0;

    std::vector<SentFrame> frames;
    std::vector<std::string> log;
    int longDelivered = 0, shortDelivered = 0, dropped = 0;

    ~Host() {
        {
            std::lock_guard<std::mutex> guard(lock);
            stopping = true;
        }
        work.notify_all();
        if (thread.joinable()) thread.join();
    }
};

Host host;

uint64_t currentMs() {
    if (host.mode == ClockMode::realTime)
        return uint64_t(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - host.realStart)
                .count());
    return host.clock;
}

// Letter case ignored, as the program passes over such ports.
bool isSystemName(const std::string &name) {
    static const char prefix[] = "microsoft";
    if (name.size() < sizeof prefix - 1) return false;
    for (size_t i = 0; i < sizeof prefix - 1; ++i)
        if (std::tolower(static_cast<unsigned char>(name[i])) != prefix[i]) return false;
    return true;
}

int firstDevicePort(const std::vector<PortEntry> &ports) {
    for (size_t i = 0; i < ports.size(); ++i)
        if (!isSystemName(ports[i].name)) return int(i);
    return -1;
}

template <class Handle>
int portIndex(Handle *handle, Handle *table, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (handle == &table[i]) return int(i);
    return -1;
}

int inIndex(HMIDIIN handle) {
    int i = portIndex(handle, host.inHandles, host.inPorts.size());
    return (i >= 0 && host.inPorts[size_t(i)].open) ? i : -1;
}

int outIndex(HMIDIOUT handle) {
    int i = portIndex(handle, host.outHandles, host.outOpen.size());
    return (i >= 0 && host.outOpen[size_t(i)]) ? i : -1;
}

// Hands one message to the device's input port; called with the lock held,
// and releases it around the callback, which may queue the buffer again.
void deliver(std::unique_lock<std::mutex> &held, const std::vector<uint8_t> &bytes) {
    int device = firstDevicePort(host.inputs);
    if (device < 0 || !host.inPorts[size_t(device)].open || !host.inPorts[size_t(device)].started) {
        host.dropped++;
        return;
    }
    InPort &port = host.inPorts[size_t(device)];
    HMIDIIN handle = &host.inHandles[device];
    MIDIINPROC callback = port.callback;
    DWORD_PTR instance = port.instance;
    if (bytes.empty() || bytes[0] != 0xF0) {
        DWORD packed = 0;
        for (size_t i = 0; i < bytes.size() && i < 3; ++i) packed |= DWORD(bytes[i]) << (8 * i);
        host.shortDelivered++;
        held.unlock();
        if (callback) callback(handle, MIM_DATA, instance, packed, 0);
        held.lock();
        return;
    }
    if (port.queue.empty()) {
        host.dropped++;
        return;
    }
    MIDIHDR *header = port.queue.front();
    port.queue.pop_front();
    size_t length = std::min<size_t>(bytes.size(), header->dwBufferLength);
    std::memcpy(header->lpData, bytes.data(), length);
    header->dwBytesRecorded = DWORD(length);
    header->dwFlags = (header->dwFlags & ~DWORD(MHDR_INQUEUE)) | MHDR_DONE;
    host.longDelivered++;
    held.unlock();
    if (callback) callback(handle, MIM_LONGDATA, instance, reinterpret_cast<DWORD_PTR>(header), 0);
    held.lock();
}

bool takeDue(uint64_t upTo, std::vector<uint8_t> &bytes) {
    auto due = std::min_element(host.pending.begin(), host.pending.end(), [](const Pending &a, const Pending &b) {
        return a.atMs != b.atMs ? a.atMs < b.atMs : a.order < b.order;
    });
    if (due == host.pending.end() || due->atMs > upTo) return false;
    bytes = std::move(due->bytes);
    host.pending.erase(due);
    return true;
}

uint64_t earliestDue() {
    uint64_t earliest = UINT64_MAX;
    for (const Pending &p : host.pending) earliest = std::min(earliest, p.atMs);
    return earliest;
}

void hostThread() {
    std::unique_lock<std::mutex> held(host.lock);
    while (!host.stopping) {
        std::vector<uint8_t> bytes;
        if (host.mode == ClockMode::virtualTime) {
            if (host.deliveredTo < host.clock) {
                uint64_t upTo = host.clock;
                while (takeDue(upTo, bytes)) deliver(held, bytes);
                host.deliveredTo = upTo;
                host.finished.notify_all();
                continue;
            }
            host.work.wait(held);
            continue;
        }
        if (takeDue(currentMs(), bytes)) {
            deliver(held, bytes);
            continue;
        }
        uint64_t next = earliestDue();
        if (next == UINT64_MAX)
            host.work.wait(held);
        else
            host.work.wait_until(held, host.realStart + std::chrono::milliseconds(next));
    }
}

void ensureThread() {
    if (host.threadStarted) return;
    host.threadStarted = true;
    host.thread = std::thread(hostThread);
}

}  // namespace

void reset(ClockMode mode) {
    std::lock_guard<std::mutex> guard(host.lock);
    ensureThread();
    host.mode = mode;
    host.realStart = std::chrono::steady_clock::now();
    host.clock = 0;
    host.deliveredTo = 0;
    host.inputs.clear();
    host.outputs.clear();
    host.inPorts.clear();
    host.outOpen.clear();
    host.peer = nullptr;
    host.pending.clear();
    host.nextOrder = 0;
    host.stillPlayingReplies = 0;
    host.frames.clear();
    host.log.clear();
    host.longDelivered = host.shortDelivered = host.dropped = 0;
    resetPauseCount();
}

void setInputPorts(const std::vector<PortEntry> &ports) {
    std::lock_guard<std::mutex> guard(host.lock);
    host.inputs = ports;
    host.inPorts.assign(std::min<size_t>(ports.size(), 64), InPort());
}

void setOutputPorts(const std::vector<PortEntry> &ports) {
    std::lock_guard<std::mutex> guard(host.lock);
    host.outputs = ports;
    host.outOpen.assign(std::min<size_t>(ports.size(), 64), false);
}

void setSingleDevice(const std::string &name) {
    setInputPorts({{name, false}});
    setOutputPorts({{name, false}});
}

void attachPeer(Peer *peer) {
    std::lock_guard<std::mutex> guard(host.lock);
    host.peer = peer;
}

void post(const std::vector<uint8_t> &bytes, uint64_t delayMs) {
    {
        std::lock_guard<std::mutex> guard(host.lock);
        host.pending.push_back({currentMs() + delayMs, host.nextOrder++, bytes});
    }
    host.work.notify_all();
}

void setStillPlayingReplies(int count) {
    std::lock_guard<std::mutex> guard(host.lock);
    host.stillPlayingReplies = count;
}

uint64_t nowMs() {
    std::lock_guard<std::mutex> guard(host.lock);
    return currentMs();
}

std::vector<SentFrame> sentFrames() {
    std::lock_guard<std::mutex> guard(host.lock);
    return host.frames;
}

std::vector<std::string> portLog() {
    std::lock_guard<std::mutex> guard(host.lock);
    return host.log;
}

int longDataDelivered() {
    std::lock_guard<std::mutex> guard(host.lock);
    return host.longDelivered;
}

int shortDataDelivered() {
    std::lock_guard<std::mutex> guard(host.lock);
    return host.shortDelivered;
}

int messagesDropped() {
    std::lock_guard<std::mutex> guard(host.lock);
    return host.dropped;
}

}  // namespace sim

using sim::host;

UINT midiInGetNumDevs() {
    std::lock_guard<std::mutex> guard(host.lock);
    return UINT(host.inPorts.size());
}

UINT midiOutGetNumDevs() {
    std::lock_guard<std::mutex> guard(host.lock);
    return UINT(host.outOpen.size());
}

MMRESULT midiInOpen(LPHMIDIIN phmi, UINT uDeviceID, DWORD_PTR dwCallback, DWORD_PTR dwInstance, DWORD fdwOpen) {
    std::lock_guard<std::mutex> guard(host.lock);
    host.log.push_back("midiInOpen " + std::to_string(uDeviceID));
    if (uDeviceID >= host.inPorts.size()) return MMSYSERR_BADDEVICEID;
    sim::InPort &port = host.inPorts[uDeviceID];
    if (host.inputs[uDeviceID].failsOpen || port.open) return MMSYSERR_ALLOCATED;
    port = sim::InPort();
    port.open = true;
    port.callback = fdwOpen == CALLBACK_FUNCTION ? reinterpret_cast<MIDIINPROC>(dwCallback) : nullptr;
    port.instance = dwInstance;
    *phmi = &host.inHandles[uDeviceID];
    return MMSYSERR_NOERROR;
}

MMRESULT midiInGetDevCapsA(UINT_PTR uDeviceID, LPMIDIINCAPSA pmic, UINT cbmic) {
    std::lock_guard<std::mutex> guard(host.lock);
    if (uDeviceID >= host.inputs.size()) return MMSYSERR_BADDEVICEID;
    if (cbmic < sizeof *pmic) return MMSYSERR_INVALPARAM;
    std::memset(pmic, 0, sizeof *pmic);
    std::strncpy(pmic->szPname, host.inputs[uDeviceID].name.c_str(), MAXPNAMELEN - 1);
    return MMSYSERR_NOERROR;
}

MMRESULT midiInPrepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT) {
    std::lock_guard<std::mutex> guard(host.lock);
    if (sim::inIndex(hmi) < 0) return MMSYSERR_INVALHANDLE;
    pmh->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT midiInUnprepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT) {
    std::lock_guard<std::mutex> guard(host.lock);
    if (sim::inIndex(hmi) < 0) return MMSYSERR_INVALHANDLE;
    if (pmh->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    pmh->dwFlags &= ~DWORD(MHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

MMRESULT midiInAddBuffer(HMIDIIN hmi, LPMIDIHDR pmh, UINT) {
    std::lock_guard<std::mutex> guard(host.lock);
    int i = sim::inIndex(hmi);
    if (i < 0) return MMSYSERR_INVALHANDLE;
    if (!(pmh->dwFlags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    if (pmh->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    pmh->dwFlags = (pmh->dwFlags | MHDR_INQUEUE) & ~DWORD(MHDR_DONE);
    pmh->dwBytesRecorded = 0;
    host.inPorts[size_t(i)].queue.push_back(pmh);
    return MMSYSERR_NOERROR;
}

MMRESULT midiInStart(HMIDIIN hmi) {
    std::lock_guard<std::mutex> guard(host.lock);
    int i = sim::inIndex(hmi);
    if (i < 0) return MMSYSERR_INVALHANDLE;
    host.inPorts[size_t(i)].started = true;
    return MMSYSERR_NOERROR;
}

MMRESULT midiInStop(HMIDIIN hmi) {
    std::lock_guard<std::mutex> guard(host.lock);
    int i = sim::inIndex(hmi);
    if (i < 0) return MMSYSERR_INVALHANDLE;
    host.inPorts[size_t(i)].started = false;
    return MMSYSERR_NOERROR;
}

// Stops reception and returns every queued buffer, empty, as Windows does.
MMRESULT midiInReset(HMIDIIN hmi) {
    std::unique_lock<std::mutex> held(host.lock);
    int i = sim::inIndex(hmi);
    if (i < 0) return MMSYSERR_INVALHANDLE;
    host.log.push_back("midiInReset " + std::to_string(i));
    sim::InPort &port = host.inPorts[size_t(i)];
    port.started = false;
    while (!port.queue.empty()) {
        MIDIHDR *header = port.queue.front();
        port.queue.pop_front();
        header->dwBytesRecorded = 0;
        header->dwFlags = (header->dwFlags & ~DWORD(MHDR_INQUEUE)) | MHDR_DONE;
        MIDIINPROC callback = port.callback;
        DWORD_PTR instance = port.instance;
        held.unlock();
        if (callback) callback(hmi, MIM_LONGDATA, instance, reinterpret_cast<DWORD_PTR>(header), 0);
        held.lock();
    }
    return MMSYSERR_NOERROR;
}

// Like Windows, refuses while a buffer is still queued.
MMRESULT midiInClose(HMIDIIN hmi) {
    std::lock_guard<std::mutex> guard(host.lock);
    int i = sim::inIndex(hmi);
    if (i < 0) return MMSYSERR_INVALHANDLE;
    if (!host.inPorts[size_t(i)].queue.empty()) {
        host.log.push_back("midiInClose " + std::to_string(i) + " refused");
        return MIDIERR_STILLPLAYING;
    }
    host.log.push_back("midiInClose " + std::to_string(i));
    host.inPorts[size_t(i)] = sim::InPort();
    return MMSYSERR_NOERROR;
}

MMRESULT midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR, DWORD_PTR, DWORD) {
    std::lock_guard<std::mutex> guard(host.lock);
    host.log.push_back("midiOutOpen " + std::to_string(uDeviceID));
    if (uDeviceID >= host.outOpen.size()) return MMSYSERR_BADDEVICEID;
    if (host.outputs[uDeviceID].failsOpen || host.outOpen[uDeviceID]) return MMSYSERR_ALLOCATED;
    host.outOpen[uDeviceID] = true;
    *phmo = &host.outHandles[uDeviceID];
    return MMSYSERR_NOERROR;
}

MMRESULT midiOutGetDevCapsA(UINT_PTR uDeviceID, LPMIDIOUTCAPSA pmoc, UINT cbmoc) {
    std::lock_guard<std::mutex> guard(host.lock);
    if (uDeviceID >= host.outputs.size()) return MMSYSERR_BADDEVICEID;
    if (cbmoc < sizeof *pmoc) return MMSYSERR_INVALPARAM;
    std::memset(pmoc, 0, sizeof *pmoc);
    std::strncpy(pmoc->szPname, host.outputs[uDeviceID].name.c_str(), MAXPNAMELEN - 1);
    return MMSYSERR_NOERROR;
}

MMRESULT midiOutPrepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT) {
    std::lock_guard<std::mutex> guard(host.lock);
    if (sim::outIndex(hmo) < 0) return MMSYSERR_INVALHANDLE;
    pmh->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT midiOutUnprepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT) {
    std::lock_guard<std::mutex> guard(host.lock);
    if (sim::outIndex(hmo) < 0) return MMSYSERR_INVALHANDLE;
    if (host.stillPlayingReplies > 0) {
        host.stillPlayingReplies--;
        return MIDIERR_STILLPLAYING;
    }
    pmh->dwFlags &= ~DWORD(MHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

// The frame is recorded and handed to the peer when it goes out on the
// device's port; the call returns once the peer has it.
MMRESULT midiOutLongMsg(HMIDIOUT hmo, LPMIDIHDR pmh, UINT) {
    std::unique_lock<std::mutex> held(host.lock);
    int i = sim::outIndex(hmo);
    if (i < 0) return MMSYSERR_INVALHANDLE;
    if (!(pmh->dwFlags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    if (i != sim::firstDevicePort(host.outputs)) return MMSYSERR_NOERROR;
    const uint8_t *data = reinterpret_cast<const uint8_t *>(pmh->lpData);
    uint64_t now = sim::currentMs();
    host.frames.push_back({now, std::vector<uint8_t>(data, data + pmh->dwBufferLength)});
    sim::Peer *peer = host.peer;
    held.unlock();
    bool accepted = peer == nullptr || peer->onFrame(data, pmh->dwBufferLength, now);
    return accepted ? MMSYSERR_NOERROR : MMSYSERR_NODRIVER;
}

MMRESULT midiOutReset(HMIDIOUT hmo) {
    std::lock_guard<std::mutex> guard(host.lock);
    return sim::outIndex(hmo) < 0 ? MMSYSERR_INVALHANDLE : MMSYSERR_NOERROR;
}

MMRESULT midiOutClose(HMIDIOUT hmo) {
    std::lock_guard<std::mutex> guard(host.lock);
    int i = sim::outIndex(hmo);
    if (i < 0) return MMSYSERR_INVALHANDLE;
    host.log.push_back("midiOutClose " + std::to_string(i));
    host.outOpen[size_t(i)] = false;
    return MMSYSERR_NOERROR;
}

// Virtual time: advance the clock, let the host thread deliver what is due by
// then, and return when it has. Real time: sleep.
void Sleep(DWORD dwMilliseconds) {
    std::unique_lock<std::mutex> held(host.lock);
    if (host.mode == sim::ClockMode::realTime) {
        held.unlock();
        sleepMonotonic(dwMilliseconds);
        return;
    }
    host.clock += dwMilliseconds;
    uint64_t target = host.clock;
    host.work.notify_all();
    host.finished.wait(held, [target] { return host.deliveredTo >= target; });
}

MMRESULT timeBeginPeriod(UINT) { return TIMERR_NOERROR; }
MMRESULT timeEndPeriod(UINT) { return TIMERR_NOERROR; }
