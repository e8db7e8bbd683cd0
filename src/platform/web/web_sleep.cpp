// Sleep hands the page back to the browser (ASYNCIFY) until its time is up,
// so that MIDI events are delivered meanwhile; web_platform.pre.js keeps each
// wait at its length, which browser timers alone would not.
#include <emscripten.h>

#include "platform/platform.h"

EM_ASYNC_JS(void, tarnwick_wait, (double ms), { await Module.tarnwickWaitFor(ms); });

namespace {

// Handing the page back costs time beyond the wait itself: the program's
// stack is unwound and wound again, and the browser may come back late. On a
// slow machine that is milliseconds a sleep. The wait asked of the browser is
// shortened by the least of the recent costs, so that a sleep lasts its
// length and seldom less; a single slow one shortens none of the next.
const int costsKept = 16;
double recentCosts[costsKept];
int costsSeen = 0;

double leastRecentCost() {
    int count = costsSeen < costsKept ? costsSeen : costsKept;
    double least = 0;
    for (int i = 0; i < count; ++i)
        if (i == 0 || recentCosts[i] < least) least = recentCosts[i];
    return least;
}

}  // namespace

void Sleep(DWORD dwMilliseconds) {
    double wanted = static_cast<double>(dwMilliseconds);
    double asked = wanted - leastRecentCost();
    if (asked < 0) asked = 0;
    double start = emscripten_get_now();
    tarnwick_wait(asked);
    recentCosts[costsSeen % costsKept] = emscripten_get_now() - start - asked;
    ++costsSeen;
}

// Sleeps here already last what is asked for.
MMRESULT timeBeginPeriod(UINT) { return TIMERR_NOERROR; }
MMRESULT timeEndPeriod(UINT) { return TIMERR_NOERROR; }
