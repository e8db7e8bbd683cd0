#pragma once

// True when text begins with prefix, ASCII letters compared without regard to
// case. A text shorter than the prefix does not begin with it.
bool startsWithIgnoringCase(const char *text, const char *prefix);
