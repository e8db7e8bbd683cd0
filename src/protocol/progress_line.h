#pragma once

#include <cstdint>

#include "protocol/run_state.h"

// Redraws the progress line in place with the next spinner glyph, and shows it at once.
void printProgress(UpdateRun &run, uint16_t percent);

// A resent record shows the glyph of its failed attempt again.
void stepSpinnerBack(UpdateRun &run);
