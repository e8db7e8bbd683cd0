// The program's only door to the operating system. The program calls the
// system by its Windows names; on Windows those are the real winmm and kernel32
// functions, elsewhere the same subset is declared here and one implementation
// (posix, or the simulated one for tests) is linked by the build.
#pragma once

// A Windows test DLL that wraps the simulated host in winmm's exports builds
// the host on the subset (TARNWICK_SIMULATED_WINMM).
#if defined(_WIN32) && !defined(TARNWICK_SIMULATED_WINMM)
// windows.h first: mmsystem.h relies on its types.
#include <windows.h>

#include <mmsystem.h>
#else
#include "platform/winapi_subset.h"
#endif

// The run's final pause: waits for one key press before the process exits.
void runPauseCommand();

// Called once at the start of a run: output that can no longer be written
// (the console's reader gone, a closed pipe) is dropped, and the run still
// goes on to its end.
void prepareConsole();
