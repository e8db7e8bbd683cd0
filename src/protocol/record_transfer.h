#pragma once

#include "run/update_run.h"

// Sends every record and reports the outcome; always ends the run.
void transferKit(UpdateRun &run);
