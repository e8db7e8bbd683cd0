// Sleep on the simulated host's clock. Its sleeps last what they are asked
// for already: the timer resolution has nothing to change.
#include "platform/platform.h"
#include "platform/sim/delivery_engine.h"

void Sleep(DWORD dwMilliseconds) { sim::sleepOnClock(dwMilliseconds); }

MMRESULT timeBeginPeriod(UINT) { return TIMERR_NOERROR; }
MMRESULT timeEndPeriod(UINT) { return TIMERR_NOERROR; }
