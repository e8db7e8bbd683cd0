// The console of a simulated run: nothing to prepare, and a pause that shows
// the prompt and has a key pressed at once.
#include <cstdio>

#include "platform/platform.h"
#include "platform/sim/sim_host.h"

static int pauses;

void prepareConsole() {}

void runPauseCommand() {
    pauses++;
    std::fputs("Press any key to continue . . . \n", stdout);
}

namespace sim {
int pauseCount() { return pauses; }
void resetPauseCount() { pauses = 0; }
}  // namespace sim
