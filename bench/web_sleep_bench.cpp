// The program's waits on the web platform, in the browser, timed on the
// page's clock. The page's ?bench=sleep mode runs it; every wait must keep
// within 10% of its length in a visible tab. tarnwick_bench's BM_ProgramWait
// measures the same waits natively.
#include <emscripten.h>

#include <cstdint>
#include <cstdio>

#include "program_waits.h"

EM_JS(void, tarnwick_bench_result, (const char *name, double wantedMs, double meanMs, double longestMs), {
    Module.tarnwickHost.benchResult(UTF8ToString(name), wantedMs, meanMs, longestMs);
});

EM_JS(void, tarnwick_bench_ended, (), { Module.tarnwickRunEnded(); });

namespace {

// For comparison, on the same machine at the same time: the greeting's wait
// on Emscripten's own sleep, one browser timer per sleep, which the browser
// holds to 4 ms once they nest.
void timerGreetingWait() {
    for (int polls = 0; polls < 100 && !messageWaiting(); ++polls) emscripten_sleep(1);
}

const programwaits::Wait timerGreeting = {"reference_timer_100x1ms", 100, timerGreetingWait, 3};

// The mean and the longest of its rounds: each wait must keep its length
// every time.
void measure(const programwaits::Wait &wait) {
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
    std::printf("%-23s %7.1f ms wanted, %8.2f ms longest, %8.2f ms mean of %d, %+.1f%%\n", wait.name, wait.lengthMs,
                longest, total / wait.rounds, wait.rounds, over);
    tarnwick_bench_result(wait.name, wait.lengthMs, total / wait.rounds, longest);
}

}  // namespace

int main() {
    prepareConsole();
    std::printf("Waits of the web platform:\n");
    for (const programwaits::Wait &wait : programwaits::waits) measure(wait);
    measure(timerGreeting);
    std::fflush(stdout);
    tarnwick_bench_ended();
    return 0;
}
