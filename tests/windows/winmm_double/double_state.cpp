#include "double_state.h"

#include <cstdio>

namespace winmm_double {

namespace {

CRITICAL_SECTION lock;
HANDLE wake;
State *shared;

typedef void(CALLBACK *PortCallback)(HANDLE, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

void writeFile(const std::string &path, const void *bytes, size_t length) {
    if (path.empty()) return;
    FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return;
    if (length != 0) std::fwrite(bytes, 1, length, file);
    std::fclose(file);
}

}  // namespace

Locked::Locked() { EnterCriticalSection(&lock); }
Locked::~Locked() { LeaveCriticalSection(&lock); }

State &state() {
    if (shared == nullptr) {
        shared = new State;
        shared->config = readConfig();
        shared->box.reset(new device::Model(shared->config.faults));
        shared->inPorts.resize(shared->config.ports.size());
        shared->outPorts.resize(shared->config.ports.size());
    }
    return *shared;
}

HANDLE wakeEvent() { return wake; }

ULONGLONG now() { return GetTickCount64(); }

void notify(DWORD_PTR callback, HANDLE handle, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2) {
    if (callback == 0) return;
    reinterpret_cast<PortCallback>(callback)(handle, message, instance, param1, param2);
}

void writeReport(const State &s) {
    const device::Bytes &image = s.box->image();
    writeFile(s.config.imagePath, image.data(), image.size());
    const device::Counters &c = s.box->counters();
    unsigned open = 0;
    for (const InPort &port : s.inPorts) open += port.open ? 1 : 0;
    for (const OutPort &port : s.outPorts) open += port.open ? 1 : 0;
    char line[128];
    int length = std::snprintf(line, sizeof line, "frames=%u handshakes=%u attempts=%u written=%u open=%u\n", c.frames,
                               c.handshakes, c.recordAttempts, c.recordsWritten, open);
    writeFile(s.config.countersPath, line, static_cast<size_t>(length));
}

bool validHeader(const MIDIHDR *header, UINT size) {
    return header != nullptr && size >= sizeof(MIDIHDR) && header->lpData != nullptr;
}

MMRESULT prepareHeader(MIDIHDR *header, UINT size) {
    if (!validHeader(header, size)) return MMSYSERR_INVALPARAM;
    header->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT unprepareHeader(MIDIHDR *header, UINT size) {
    if (!validHeader(header, size)) return MMSYSERR_INVALPARAM;
    if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    header->dwFlags &= ~static_cast<DWORD>(MHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

}  // namespace winmm_double

// Only what is safe under the loader lock: the lock and the event. The
// configuration is read on first use.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&winmm_double::lock);
        winmm_double::wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    return TRUE;
}
