// What the winmm subset's platforms report of a port beside its name, and
// how they read the open flags: one set of values for every one of them.
#pragma once

#include "platform/platform.h"

// winmm's CALLBACK_TYPEMASK: the bits of the open flags that say how to call back.
const DWORD callbackTypeMask = 0x00070000L;
const WORD unmappedId = 0xFFFF;
const MMVERSION driverVersion = 0x0100;
const WORD midiPortTechnology = 1;
