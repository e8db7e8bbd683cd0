#pragma once

#include <cstdint>

#include "platform/platform.h"

typedef uint16_t MidiStatus;

// Open the first port from deviceId on whose name is not the system's own.
MidiStatus openMidiIn(uint16_t deviceId);
MidiStatus openMidiOut(uint16_t deviceId);

// 1 when a port was closed, 0 when none was open.
int closeMidiIn();
int closeMidiOut();

void CALLBACK midiInHandler(HMIDIIN handle, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2);

// The port stage of a run: input, then output. False after its message.
bool openPorts(uint16_t inDeviceId, uint16_t outDeviceId);

// Sends one whole message on the open output and returns once the platform
// has let go of it, so that it may live on the caller's stack.
MidiStatus sendLongMessage(uint8_t *bytes, uint16_t length);
