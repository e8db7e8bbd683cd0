#include "midi/sysex_sender.h"

#include <cstring>

#include "protocol/wire_constants.h"

MidiStatus sendSysEx(const uint8_t *data, uint16_t length) {
    if (length > wire::maxFrameData) return 0;
    uint8_t frame[wire::maxFrameData + 2];
    frame[0] = wire::sysExStart;
    if (length != 0) std::memcpy(frame + 1, data, length);
    frame[length + 1] = wire::sysExEnd;

    outHeader.lpData = reinterpret_cast<LPSTR>(frame);
    outHeader.dwBufferLength = static_cast<DWORD>(length + 2);
    outHeader.dwFlags = 0;
    MMRESULT status = midiOutPrepareHeader(midiOutHandle, &outHeader, sizeof outHeader);
    if (status != MMSYSERR_NOERROR) return static_cast<MidiStatus>(status);
    status = midiOutLongMsg(midiOutHandle, &outHeader, sizeof outHeader);
    if (status != MMSYSERR_NOERROR) return static_cast<MidiStatus>(status);
    // The frame lives on this call's stack, so wait until the platform lets go.
    while (midiOutUnprepareHeader(midiOutHandle, &outHeader, sizeof outHeader) == MIDIERR_STILLPLAYING) Sleep(100);
    return 0;
}
