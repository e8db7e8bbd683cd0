// The messages due for the program, each at a time on the clock, and the
// host's own thread that delivers them: in virtual time once Sleep has moved
// the clock past them, in real time as they fall due. sim::post adds one.
#pragma once

#include <cstdint>

namespace sim {

// Drops every message not yet delivered; starts the host thread when it is
// not running. Host lock held.
void resetDelivery();
// Stops the host thread and waits for it to end. Host lock not held. A host
// inside a Windows DLL stops it while the program still runs: at exit the
// system has ended it already, and waiting for it would never return.
void stopDelivery();
// Virtual time: moves the clock on by ms and returns once everything due by
// then has been delivered. Real time: sleeps.
void sleepOnClock(uint32_t ms);

}  // namespace sim
