#include <cstdio>

#include "platform/platform.h"

// Every write reaches the page as it is made, as on a console, so that the
// page shows the output and its times as the program writes it.
void prepareConsole() { std::setvbuf(stdout, nullptr, _IONBF, 0); }
