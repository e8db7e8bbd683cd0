#include "protocol/progress_line.h"

#include <cstdio>

static const char spinnerGlyphs[8] = {'-', '-', '\\', '\\', '|', '|', '/', '/'};

void printProgress(UpdateRun &run, uint16_t percent) {
    std::printf("\r                        \rTransferring.. %c %d%% done", spinnerGlyphs[run.spinnerPos], percent);
    run.spinnerPos = static_cast<uint8_t>((run.spinnerPos + 1) % 8);
    std::fflush(stdout);
}

void stepSpinnerBack(UpdateRun &run) { run.spinnerPos = static_cast<uint8_t>((run.spinnerPos + 7) % 8); }
