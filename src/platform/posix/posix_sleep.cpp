#include "platform/platform.h"
#include "platform/monotonic_sleep.h"

void Sleep(DWORD dwMilliseconds) { sleepMonotonic(dwMilliseconds); }

// Sleeps here already last what is asked for.
MMRESULT timeBeginPeriod(UINT) { return TIMERR_NOERROR; }
MMRESULT timeEndPeriod(UINT) { return TIMERR_NOERROR; }
