#pragma once

#include "run/update_run.h"

// Names of kits for this product begin with this tag, letter case ignored.
constexpr const char *productTag = "Tarnwick_Box";

// Finds the first "*.kit" in the working directory, checks its name and reads
// it into run.image. False after its message has been printed.
bool loadKit(UpdateRun &run);
