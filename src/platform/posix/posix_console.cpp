#include <signal.h>

#include "platform/platform.h"

// Writing to a pipe whose reader has gone raises SIGPIPE, which would end the
// process mid-transfer; ignored, the write fails and the output is dropped.
void prepareConsole() { signal(SIGPIPE, SIG_IGN); }
