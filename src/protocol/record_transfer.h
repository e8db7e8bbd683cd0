#pragma once

#include "protocol/run_state.h"

// Sends every record and reports the outcome; always ends the run.
void transferKit(UpdateRun &run);
