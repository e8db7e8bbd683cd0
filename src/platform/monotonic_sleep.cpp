#include "platform/monotonic_sleep.h"

#include <cerrno>
#include <ctime>
#ifdef __linux__
#include <sys/prctl.h>
#endif

static void askForFineTimerSlack() {
#ifdef __linux__
    static bool asked = false;
    if (!asked) prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    asked = true;
#endif
}

void sleepMonotonic(uint32_t ms) {
    askForFineTimerSlack();
    timespec wait = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}
