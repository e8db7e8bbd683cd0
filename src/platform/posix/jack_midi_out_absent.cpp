// Built where the JACK library is missing: no output of our own, so RtMidi's
// serves every port.
#include "platform/posix/jack_midi_out.h"

bool jackMidiOutBuilt() { return false; }

JackMidiOut *openJackMidiOut(const char *, const char *, const std::string &) { return nullptr; }

bool sendJackMidi(JackMidiOut *, const unsigned char *, size_t) { return false; }

void closeJackMidiOut(JackMidiOut *) {}
