// ThreadSanitizer cannot see the synchronisation inside the MIDI libraries,
// which are built without it: JACK's lock-free ring buffers, and the server
// round trips that order a port's opening before its first message and its
// closing after its last. What it would report there is not a race.
#pragma once

extern const char midiLibrarySuppressions[];
