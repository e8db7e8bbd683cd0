#include "run/update_run.h"

#include <cstdio>
#include <cstring>

#include "kit/kit_loader.h"
#include "kit/kit_records.h"
#include "midi/midi_ports.h"
#include "platform/platform.h"
#include "protocol/handshake.h"
#include "protocol/record_transfer.h"

void plainEnd() {
    // The pause may be another process writing to the same console.
    std::fflush(stdout);
    runPauseCommand();
}

void closingEnd() {
    // What the last stage printed leaves before the ports close.
    std::fflush(stdout);
    closeMidiIn();
    closeMidiOut();
    plainEnd();
}

// To a file or a pipe the output is buffered: each stage's messages are
// flushed as the stage ends, so that a run killed or crashed later still
// shows how far it got.
static bool stageEnds(bool carryOn) {
    std::fflush(stdout);
    return carryOn;
}

static void runStages(UpdateRun &run) {
    std::printf("Quorlane Update V0.3 -> Tarnwick Box System\n");
    std::fflush(stdout);
    if (!stageEnds(loadKit(run.fileName, run.productCode, run.image) && validateKit(run.image))) {
        plainEnd();
        return;
    }
    if (stageEnds(openPorts(run.inDeviceId, run.outDeviceId)) && stageEnds(handshake(run))) transferKit(run);
    closingEnd();
}

int runUpdate() {
    // 128 KiB of kit storage: kept off the stack.
    static UpdateRun run;
    std::memset(&run, 0, sizeof run);
    prepareConsole();
    // Windows sleeps last a whole timer tick (about 15.6 ms) unless asked for
    // 1 ms, which would stretch every wait and the pacing of the frames.
    timeBeginPeriod(1);
    runStages(run);
    timeEndPeriod(1);
    return 0;
}
