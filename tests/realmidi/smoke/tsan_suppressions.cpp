#include "tsan_suppressions.h"

const char midiLibrarySuppressions[] =
    "race:libjack.so.0\n"
    "race:librtmidi.so.6\n";

// Read by ThreadSanitizer at start in a sanitizer build; unused otherwise.
extern "C" const char *__tsan_default_suppressions() { return midiLibrarySuppressions; }
