#include "platform/sim/virtual_clock.h"

namespace sim {

namespace {

ClockMode mode = ClockMode::virtualTime;
std::chrono::steady_clock::time_point realStart;
uint64_t virtualMs = 0;

}  // namespace

void resetClock(ClockMode newMode) {
    mode = newMode;
    realStart = std::chrono::steady_clock::now();
    virtualMs = 0;
}

bool clockIsVirtual() { return mode == ClockMode::virtualTime; }

uint64_t clockNowMs() {
    if (mode == ClockMode::realTime)
        return uint64_t(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - realStart)
                .count());
    return virtualMs;
}

uint64_t advanceClock(uint64_t ms) {
    virtualMs += ms;
    return virtualMs;
}

std::chrono::steady_clock::time_point realMomentOf(uint64_t ms) { return realStart + std::chrono::milliseconds(ms); }

}  // namespace sim
