// The program's waits on the web platform, in the browser: each made as the
// program makes it (the mailbox looked at between sleeps) and timed on the
// page's clock. The page's ?bench=sleep mode runs it; every wait must keep
// within 10% of its length in a visible tab. No MIDI: nothing ever arrives,
// so every wait runs to its end.
#include <emscripten.h>

#include <cstdint>
#include <cstdio>

#include "midi/reply_mailbox.h"
#include "platform/platform.h"

EM_JS(void, tarnwick_bench_result, (const char *name, double ms), {
    Module.tarnwickHost.benchResult(UTF8ToString(name), ms);
});

EM_JS(void, tarnwick_bench_ended, (), { Module.tarnwickHost.ended(); });

namespace {

// The greeting's wait for the handshake reply: 100 sleeps of 1 ms.
void greetingWait() {
    for (int polls = 0; polls < 100 && !messageWaiting(); ++polls) Sleep(1);
}

// The pause after every frame.
void pacingWait() { Sleep(10); }

// A verdict's wait: polls sleeps of 10 ms, looking before each and after the last.
void verdictWait(uint16_t polls) {
    for (;;) {
        if (replyPresent()) return;
        if (polls == 0) return;
        --polls;
        Sleep(10);
    }
}

void shortVerdictWait() { verdictWait(50); }
void longVerdictWait() { verdictWait(200); }

struct Wait {
    const char *name;
    double lengthMs;
    void (*run)();
    int rounds;
};

const Wait waits[] = {
    {"greeting_100x1ms", 100, greetingWait, 10},
    {"pacing_10ms", 10, pacingWait, 100},
    {"verdict_500ms", 500, shortVerdictWait, 3},
    {"verdict_2000ms", 2000, longVerdictWait, 2},
};

// The longest of its rounds: each wait must keep its length every time.
void measure(const Wait &wait) {
    double longest = 0;
    double total = 0;
    for (int round = 0; round < wait.rounds; ++round) {
        double start = emscripten_get_now();
        wait.run();
        double took = emscripten_get_now() - start;
        total += took;
        if (took > longest) longest = took;
    }
    double over = (longest - wait.lengthMs) * 100 / wait.lengthMs;
    std::printf("%-17s %7.1f ms wanted, %8.2f ms longest, %8.2f ms mean of %d, %+.1f%%\n", wait.name, wait.lengthMs,
                longest, total / wait.rounds, wait.rounds, over);
    tarnwick_bench_result(wait.name, longest);
}

}  // namespace

int main() {
    prepareConsole();
    std::printf("Waits of the web platform, each the longest of its rounds:\n");
    for (const Wait &wait : waits) measure(wait);
    std::fflush(stdout);
    tarnwick_bench_ended();
    return 0;
}
