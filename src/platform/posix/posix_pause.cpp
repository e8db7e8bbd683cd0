// The command processor's "pause", for systems that have none: the same
// prompt, then one key. A terminal is read raw so that no Enter is needed;
// anything else gives one byte, and end of input ends the wait at once.
#include <termios.h>
#include <unistd.h>

#include <cstdio>

#include "platform/platform.h"

static void readOneKeyRaw() {
    termios saved;
    if (tcgetattr(STDIN_FILENO, &saved) != 0) return;
    termios raw = saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    char key;
    ssize_t ignored = read(STDIN_FILENO, &key, 1);
    (void)ignored;
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

void runPauseCommand() {
    std::fputs("Press any key to continue . . . ", stdout);
    std::fflush(stdout);
    if (isatty(STDIN_FILENO)) {
        readOneKeyRaw();
    } else {
        char byte;
        ssize_t ignored = read(STDIN_FILENO, &byte, 1);
        (void)ignored;
    }
    std::fputs("\n", stdout);
    std::fflush(stdout);
}
