#pragma once

#include "protocol/run_state.h"

// Asks the device for its product code; true when it matches the kit's.
// False after its message has been printed.
bool handshake(UpdateRun &run);
