// The simulated host's clock: virtual milliseconds that only Sleep moves on,
// or, for the benchmarks, real milliseconds since the last reset. Every call
// is made with the host lock held.
#pragma once

#include <chrono>
#include <cstdint>

#include "platform/sim/sim_host.h"

namespace sim {

void resetClock(ClockMode mode);
bool clockIsVirtual();
uint64_t clockNowMs();
// Virtual time only: moves the clock on and returns the new time.
uint64_t advanceClock(uint64_t ms);
// Real time only: the moment at which the clock reads ms.
std::chrono::steady_clock::time_point realMomentOf(uint64_t ms);

}  // namespace sim
