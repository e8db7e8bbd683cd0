// The messages due for the program, each at a time on the clock, and the
// host's own thread that delivers them: in virtual time once Sleep has moved
// the clock past them, in real time as they fall due. sim::post adds one.
#pragma once

#include <cstdint>

namespace sim {

// Drops every message not yet delivered; starts the host thread the first
// time. Host lock held.
void resetDelivery();
// Virtual time: moves the clock on by ms and returns once everything due by
// then has been delivered. Real time: sleeps.
void sleepOnClock(uint32_t ms);

}  // namespace sim
