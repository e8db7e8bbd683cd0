#include "run/update_run.h"

#include <cstdio>
#include <cstring>

#include "kit/kit_loader.h"
#include "kit/kit_records.h"
#include "midi/midi_ports.h"
#include "protocol/handshake.h"
#include "protocol/record_transfer.h"

void plainEnd() {
    // The pause may be another process writing to the same console.
    std::fflush(stdout);
    runPauseCommand();
}

void closingEnd() {
    closeMidiIn();
    closeMidiOut();
    plainEnd();
}

int runUpdate() {
    // 128 KiB of kit storage: kept off the stack.
    static UpdateRun run;
    std::memset(&run, 0, sizeof run);
    std::printf("Quorlane Update V0.3 -> Tarnwick Box System\n");
    if (!loadKit(run) || !validateKit(run.image)) {
        plainEnd();
        return 0;
    }
    if (openPorts(run.inDeviceId, run.outDeviceId) && handshake(run)) transferKit(run);
    closingEnd();
    return 0;
}
