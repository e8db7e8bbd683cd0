#include <cstdlib>

#include "platform/platform.h"

void runPauseCommand() { std::system("pause"); }
