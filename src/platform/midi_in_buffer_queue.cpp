#include "platform/midi_in_buffer_queue.h"

#include <cstring>

namespace {

bool headerUsable(const MIDIHDR *header, UINT headerSize) {
    return header != nullptr && headerSize >= sizeof(MIDIHDR) && header->lpData != nullptr &&
           header->dwBufferLength != 0;
}

}  // namespace

MMRESULT MidiInBufferQueue::prepare(MIDIHDR *header, UINT headerSize) {
    if (!headerUsable(header, headerSize)) return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> guard(lock);
    header->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT MidiInBufferQueue::unprepare(MIDIHDR *header, UINT headerSize) {
    if (header == nullptr || headerSize < sizeof(MIDIHDR)) return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> guard(lock);
    if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    header->dwFlags &= ~static_cast<DWORD>(MHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

MMRESULT MidiInBufferQueue::add(MIDIHDR *header, UINT headerSize) {
    if (!headerUsable(header, headerSize)) return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> guard(lock);
    if (!(header->dwFlags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    header->dwFlags = (header->dwFlags & ~static_cast<DWORD>(MHDR_DONE)) | MHDR_INQUEUE;
    header->dwBytesRecorded = 0;
    queued.push_back(header);
    return MMSYSERR_NOERROR;
}

void MidiInBufferQueue::start() {
    std::lock_guard<std::mutex> guard(lock);
    if (!started) startTime = std::chrono::steady_clock::now();
    started = true;
}

void MidiInBufferQueue::stop() {
    std::lock_guard<std::mutex> guard(lock);
    started = false;
}

bool MidiInBufferQueue::receiving() {
    std::lock_guard<std::mutex> guard(lock);
    return started;
}

std::vector<MIDIHDR *> MidiInBufferQueue::reset() {
    std::lock_guard<std::mutex> guard(lock);
    started = false;
    std::vector<MIDIHDR *> returned(queued.begin(), queued.end());
    queued.clear();
    for (MIDIHDR *header : returned) {
        header->dwBytesRecorded = 0;
        header->dwFlags = (header->dwFlags & ~static_cast<DWORD>(MHDR_INQUEUE)) | MHDR_DONE;
    }
    return returned;
}

bool MidiInBufferQueue::holdsBuffers() {
    std::lock_guard<std::mutex> guard(lock);
    return !queued.empty();
}

MIDIHDR *MidiInBufferQueue::fill(const unsigned char *message, size_t length) {
    if (length == 0 || message[0] != 0xF0) return nullptr;
    return fillPart(message, length);
}

MIDIHDR *MidiInBufferQueue::fillPart(const unsigned char *bytes, size_t length) {
    if (length == 0) return nullptr;
    std::lock_guard<std::mutex> guard(lock);
    if (!started || queued.empty()) return nullptr;
    MIDIHDR *header = queued.front();
    queued.pop_front();
    size_t copied = length < header->dwBufferLength ? length : header->dwBufferLength;
    std::memcpy(header->lpData, bytes, copied);
    header->dwBytesRecorded = static_cast<DWORD>(copied);
    header->dwFlags = (header->dwFlags & ~static_cast<DWORD>(MHDR_INQUEUE)) | MHDR_DONE;
    return header;
}

DWORD MidiInBufferQueue::elapsedMs() {
    std::lock_guard<std::mutex> guard(lock);
    if (!started) return 0;
    auto elapsed = std::chrono::steady_clock::now() - startTime;
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}
