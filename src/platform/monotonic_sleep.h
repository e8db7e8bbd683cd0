#pragma once

#include <cstdint>

// Sleeps at least ms milliseconds on the monotonic clock, overshooting as
// little as the system allows: the updater paces every frame with a 10 ms
// sleep, so the default 50 us timer slack alone would add half a percent.
void sleepMonotonic(uint32_t ms);
