#include "midi/midi_ports.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "base/ascii_text.h"
#include "midi/reply_mailbox.h"

static HMIDIIN midiInHandle;
static HMIDIOUT midiOutHandle;
static std::atomic<uint8_t> inPortOpen;
static uint8_t outPortOpen;
static MIDIHDR inHeader;
static MIDIHDR outHeader;

// The operating system's own ports are passed over; the posix layer names the
// system's ports the same way.
static bool isSystemPort(const char *productName) { return startsWithIgnoringCase(productName, "Microsoft"); }

static void queueReplyBuffer() {
    std::memset(&inHeader, 0, sizeof inHeader);
    inHeader.lpData = reinterpret_cast<LPSTR>(mailbox.replyBuffer);
    inHeader.dwBufferLength = wire::replyBufferSize;
    midiInPrepareHeader(midiInHandle, &inHeader, sizeof inHeader);
    midiInAddBuffer(midiInHandle, &inHeader, sizeof inHeader);
}

MidiStatus openMidiIn(uint16_t deviceId) {
    for (;; ++deviceId) {
        MMRESULT status =
            midiInOpen(&midiInHandle, deviceId, reinterpret_cast<DWORD_PTR>(&midiInHandler), 0, CALLBACK_FUNCTION);
        if (status != MMSYSERR_NOERROR) {
            inPortOpen = 0;
            return static_cast<MidiStatus>(status);
        }
        MIDIINCAPSA caps;
        std::memset(&caps, 0, sizeof caps);
        midiInGetDevCapsA(deviceId, &caps, sizeof caps);
        caps.szPname[MAXPNAMELEN - 1] = '\0';
        std::printf("MIDI IN DEVICE: USB Device\r\n");
        queueReplyBuffer();
        inPortOpen = 1;
        status = midiInStart(midiInHandle);
        if (!isSystemPort(caps.szPname)) return static_cast<MidiStatus>(status);
        closeMidiIn();
    }
}

MidiStatus openMidiOut(uint16_t deviceId) {
    for (;; ++deviceId) {
        MMRESULT status = midiOutOpen(&midiOutHandle, deviceId, 0, 0, CALLBACK_NULL);
        if (status != MMSYSERR_NOERROR) {
            outPortOpen = 0;
            return static_cast<MidiStatus>(status);
        }
        MIDIOUTCAPSA caps;
        std::memset(&caps, 0, sizeof caps);
        midiOutGetDevCapsA(deviceId, &caps, sizeof caps);
        caps.szPname[MAXPNAMELEN - 1] = '\0';
        std::printf("MIDI OUT DEVICE: USB Device\r\n");
        outHeader.dwFlags = 0;
        outPortOpen = 1;
        if (!isSystemPort(caps.szPname)) return 0;
        closeMidiOut();
    }
}

// The flag is cleared first so that a late handler call no longer queues the
// buffer; the reset returns the queued buffer, without which the close fails
// and the port stays held.
int closeMidiIn() {
    if (inPortOpen == 0) return 0;
    inPortOpen = 0;
    midiInReset(midiInHandle);
    midiInUnprepareHeader(midiInHandle, &inHeader, sizeof inHeader);
    midiInClose(midiInHandle);
    return 1;
}

MidiStatus sendLongMessage(uint8_t *bytes, uint16_t length) {
    outHeader.lpData = reinterpret_cast<LPSTR>(bytes);
    outHeader.dwBufferLength = length;
    outHeader.dwFlags = 0;
    MMRESULT status = midiOutPrepareHeader(midiOutHandle, &outHeader, sizeof outHeader);
    if (status != MMSYSERR_NOERROR) return static_cast<MidiStatus>(status);
    status = midiOutLongMsg(midiOutHandle, &outHeader, sizeof outHeader);
    if (status != MMSYSERR_NOERROR) return static_cast<MidiStatus>(status);
    while (midiOutUnprepareHeader(midiOutHandle, &outHeader, sizeof outHeader) == MIDIERR_STILLPLAYING) Sleep(100);
    return 0;
}

int closeMidiOut() {
    if (outPortOpen == 0) return 0;
    outPortOpen = 0;
    midiOutClose(midiOutHandle);
    return 1;
}

// Runs on the platform's thread. The still-prepared buffer is handed back with
// midiInAddBuffer alone: other multimedia calls made here may deadlock.
// Nothing goes back while the port is closing, nor an empty buffer: that is
// how midiInReset returns the queued buffers, and Windows 11's MIDI service
// calls back until none is queued, on the caller's thread, so handing them
// back would keep closeMidiIn in midiInReset for ever.
void CALLBACK midiInHandler(HMIDIIN handle, UINT message, DWORD_PTR, DWORD_PTR param1, DWORD_PTR) {
    if (message != MIM_LONGDATA) return;
    MIDIHDR *header = reinterpret_cast<MIDIHDR *>(param1);
    uint16_t length = static_cast<uint16_t>(header->dwBytesRecorded);
    postReply(length);
    if (inPortOpen != 0 && length != 0) midiInAddBuffer(handle, header, sizeof *header);
}

bool openPorts(uint16_t inDeviceId, uint16_t outDeviceId) {
    // Windows 11's MIDI service refuses to open a port by number until the
    // ports of its direction have been counted.
    midiInGetNumDevs();
    midiOutGetNumDevs();
    if (openMidiIn(inDeviceId) != 0) {
        std::printf("Error: The MIDI In of device is missing!\n\n");
        return false;
    }
    if (openMidiOut(outDeviceId) != 0) {
        std::printf("Error: The MIDI Out of device is missing!\n\n");
        return false;
    }
    return true;
}
