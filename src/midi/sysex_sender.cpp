#include "midi/sysex_sender.h"

#include <cstring>

#include "base/wire_constants.h"

MidiStatus sendSysEx(const uint8_t *data, uint16_t length) {
    if (length > wire::maxFrameData) return 0;
    uint8_t frame[wire::maxFrameData + 2];
    frame[0] = wire::sysExStart;
    if (length != 0) std::memcpy(frame + 1, data, length);
    frame[length + 1] = wire::sysExEnd;
    return sendLongMessage(frame, static_cast<uint16_t>(length + 2));
}
