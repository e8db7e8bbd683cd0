// Moved to base/; kept only until the includers outside src/ name the new place.
#pragma once
#include "base/ascii_text.h"
