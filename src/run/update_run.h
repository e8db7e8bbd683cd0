#pragma once

#include "protocol/run_state.h"

// One update attempt from banner to pause; always returns the exit status 0.
int runUpdate();

// The two ways a run ends.
void plainEnd();
void closingEnd();
