#include "run/update_run.h"

// Arguments are ignored: one start is one update attempt.
int main() { return runUpdate(); }
