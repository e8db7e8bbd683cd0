// Sleep hands the page back to the browser (ASYNCIFY) until its time is up,
// so that MIDI events are delivered meanwhile; web_platform.pre.js keeps each
// wait at its length, which browser timers alone would not.
#include <emscripten.h>

#include "platform/platform.h"

EM_ASYNC_JS(void, tarnwick_wait, (double ms), { await Module.tarnwickWaitFor(ms); });

void Sleep(DWORD dwMilliseconds) { tarnwick_wait(static_cast<double>(dwMilliseconds)); }

// Sleeps here already last what is asked for.
MMRESULT timeBeginPeriod(UINT) { return TIMERR_NOERROR; }
MMRESULT timeEndPeriod(UINT) { return TIMERR_NOERROR; }
