// The program's waits, each made as the program makes it (the mailbox looked
// at between sleeps), for the native and the web benchmarks to measure the
// same thing. Nothing arrives in a benchmark, so every wait runs to its end.
#pragma once

#include <cstdint>

#include "midi/reply_mailbox.h"
#include "platform/platform.h"

namespace programwaits {

// The greeting's wait for the handshake reply: 100 sleeps of 1 ms.
inline void greeting() {
    for (int polls = 0; polls < 100 && !messageWaiting(); ++polls) Sleep(1);
}

// The pause after every frame.
inline void pacing() { Sleep(10); }

// A verdict's wait: polls sleeps of 10 ms, looking before each and after the last.
inline void verdict(uint16_t polls) {
    for (;;) {
        if (replyPresent()) return;
        if (polls == 0) return;
        --polls;
        Sleep(10);
    }
}

inline void shortVerdict() { verdict(50); }
inline void longVerdict() { verdict(200); }

struct Wait {
    const char *name;
    double lengthMs;
    void (*run)();
    int rounds;
};

inline const Wait waits[] = {
    {"greeting_100x1ms", 100, greeting, 10},
    {"pacing_10ms", 10, pacing, 100},
    {"verdict_500ms", 500, shortVerdict, 3},
    {"verdict_2000ms", 2000, longVerdict, 2},
};

}  // namespace programwaits
