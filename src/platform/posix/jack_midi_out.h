// A MIDI output of our own on a JACK server, for the port the updater sends
// its frames to and for tarnwick-target's answers. RtMidi 5.0.0's JACK output frees its ring buffer before it
// closes its client, so its process callback, still running, can read freed
// memory while the port is closed (a crash at the end of one run in a
// hundred on a busy machine). This one stops the client first: closing a
// JACK client stops and joins its process thread, and only then is the
// buffer freed.
#pragma once

#include <cstddef>
#include <string>

struct JackMidiOut;

// False where the build has no JACK library: RtMidi's output serves JACK
// ports then.
bool jackMidiOutBuilt();

// A client named clientName with one MIDI output, portName, connected to the
// JACK input port destination (its full name, as RtMidi lists it), or left
// for others to connect to when destination is empty; nullptr when there is
// no JACK support, no server, or the connection failed.
JackMidiOut *openJackMidiOut(const char *clientName, const char *portName, const std::string &destination);

// Queues one whole message for the next process cycle; false when it does
// not fit into what is still waiting.
bool sendJackMidi(JackMidiOut *out, const unsigned char *data, size_t size);

// Waits (a second at most) until what was queued has left, then closes the
// client and frees the rest.
void closeJackMidiOut(JackMidiOut *out);
