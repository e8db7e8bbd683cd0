#pragma once

#include <cstdint>

#include "midi/midi_ports.h"

// Sends data wrapped in F0 .. F7 and returns once the platform has let go of
// the frame. More than 46 data bytes are refused: nothing sent, status 0.
MidiStatus sendSysEx(const uint8_t *data, uint16_t length);
