// The command processor's "pause", in the page: the same prompt, then one key
// press or a click on the page's continue button. It is the run's last step,
// so its answer also tells the page that the run is over.
#include <emscripten.h>

#include <cstdio>

#include "platform/platform.h"

EM_ASYNC_JS(void, tarnwick_wait_for_key, (), { await Module.tarnwickHost.pause(); });

EM_JS(void, tarnwick_run_ended, (), { Module.tarnwickHost.ended(); });

void runPauseCommand() {
    std::fputs("Press any key to continue . . . ", stdout);
    std::fflush(stdout);
    tarnwick_wait_for_key();
    std::fputs("\n", stdout);
    std::fflush(stdout);
    tarnwick_run_ended();
}
