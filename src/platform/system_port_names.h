// How a port's name, as a MIDI system reports it, becomes the product name the
// Windows calls report. Shared by every platform that lists ports by name, so
// that the program passes over the same ports everywhere.
#pragma once

#include <string>

// ALSA names its loopback ports "Midi Through Port-0" and so on; RtMidi puts
// the client's name, the same text, in front.
extern const char loopbackPortTag[];

// True for a name that begins with the loopback tag, letter case as ALSA
// writes it.
bool isLoopbackPortName(const std::string &name);

// The program passes over ports whose product name begins with "Microsoft",
// so a system port gets that prefix in front of its own name. The result is
// cut to what szPname holds, never inside a UTF-8 sequence.
std::string productNameOf(const std::string &name, bool systemPort);
