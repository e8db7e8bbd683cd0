#include "base/ascii_text.h"

static char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

bool startsWithIgnoringCase(const char *text, const char *prefix) {
    for (; *prefix != '\0'; ++text, ++prefix) {
        if (*text == '\0' || lowerAscii(*text) != lowerAscii(*prefix)) return false;
    }
    return true;
}
