#include <cerrno>
#include <ctime>

#include "platform/platform.h"

void Sleep(DWORD dwMilliseconds) {
    timespec wait = {static_cast<time_t>(dwMilliseconds / 1000), static_cast<long>(dwMilliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

// Sleeps here already last what is asked for.
MMRESULT timeBeginPeriod(UINT) { return TIMERR_NOERROR; }
MMRESULT timeEndPeriod(UINT) { return TIMERR_NOERROR; }
