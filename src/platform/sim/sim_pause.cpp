// The pause of a simulated run: the prompt, and a key pressed at once.
#include <cstdio>

#include "platform/platform.h"
#include "platform/sim/sim_host.h"

static int pauses;

void runPauseCommand() {
    pauses++;
    std::fputs("Press any key to continue . . . \n", stdout);
}

namespace sim {
int pauseCount() { return pauses; }
void resetPauseCount() { pauses = 0; }
}  // namespace sim
