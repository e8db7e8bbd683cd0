// How long Sleep(10) really lasts here. The update's protocol floor counts
// 10 ms per frame; whatever each sleep overshoots is added once per frame.
// Linux lets a sleep end up to the thread's timer slack late (50 us unless
// changed), so the sleep is measured with that slack and with 1 ns.
#include <benchmark/benchmark.h>
#include <sys/prctl.h>

#include <algorithm>
#include <chrono>

#include "platform/platform.h"
#include "platform/sim/sim_host.h"
#include "program_waits.h"

namespace {

void BM_Sleep10ms(benchmark::State &state) {
    long savedSlack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    if (state.range(0) != 0) prctl(PR_SET_TIMERSLACK, state.range(0), 0, 0, 0);
    state.counters["timer_slack_ns"] = double(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0));
    sim::reset(sim::ClockMode::realTime);
    for (auto _ : state) Sleep(10);
    sim::reset();
    if (savedSlack > 0) prctl(PR_SET_TIMERSLACK, savedSlack, 0, 0, 0);
}

// Each of the program's waits, as the web benchmark (?bench=sleep) makes
// them, for the two to be set side by side; real time is the mean.
void BM_ProgramWait(benchmark::State &state) {
    const programwaits::Wait &wait = programwaits::waits[state.range(0)];
    state.SetLabel(wait.name);
    sim::reset(sim::ClockMode::realTime);
    double longestMs = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        wait.run();
        longestMs = std::max(
            longestMs, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    sim::reset();
    state.counters["wanted_ms"] = wait.lengthMs;
    state.counters["longest_ms"] = longestMs;
}

}  // namespace

BENCHMARK(BM_ProgramWait)
    ->ArgName("wait")
    ->DenseRange(0, 3)
    ->Iterations(10)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// slack_ns: 0 keeps the thread's own slack.
BENCHMARK(BM_Sleep10ms)
    ->ArgName("slack_ns")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(200)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
