// The whole update of the largest kit against the device model answering at
// once. Its time is set by the protocol: 10 ms after every frame, and the
// updater's own work should vanish against that floor. In real time the
// sleeps are real and the model's replies arrive from the host's thread; in
// virtual time the sleeps cost nothing, which leaves the updater's own work.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <string>

#include "device_model.h"
#include "largest_kit.h"
#include "support/expected_output.h"
#include "support/updater_run.h"

namespace {

constexpr double frameSleepSeconds = 0.010;

// The updater's last message before the pause, for a failure.
std::string lastMessage(std::string output) {
    size_t pause = output.rfind(expected::pausePrompt);
    if (pause != std::string::npos) output.resize(pause);
    size_t end = output.find_last_not_of("\r\n");
    if (end == std::string::npos) return "(nothing)";
    size_t start = output.find_last_of("\r\n", end);
    start = start == std::string::npos ? 0 : start + 1;
    return output.substr(start, end + 1 - start);
}

// The largest kit, and its text as the kit file holds it.
struct Kit {
    std::vector<uint8_t> bytes = bench::largestKit();
    std::string text = formatHexText(bytes);
};

struct UpdateResult {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    std::string error;  // empty when the device holds the kit and the run said so
    size_t framesSent = 0;
    // Mean time from one frame to the next, in ms: within a record (the 10 ms
    // pacing sleep) and from a record's last frame to the next record's first
    // (the pacing sleep, the verdict and the progress line).
    double withinRecordGapMs = 0;
    double acrossRecordsGapMs = 0;
    // Time between frames beyond 10 ms each, summed over the whole transfer.
    double gapsOverPacingMs = 0;
};

// Splits the time between frames by where the frames stand in the kit; the
// host records each frame's time in whole ms, which averages out over
// thousands of gaps.
void measureGaps(const std::vector<uint8_t> &kit, const std::vector<sim::SentFrame> &sent, UpdateResult &result) {
    std::vector<bool> startsRecord = bench::recordStarts(kit);
    // Frame 0 is the handshake.
    if (sent.size() != startsRecord.size() + 1) return;
    // By the frame after the gap: [0] within a record, [1] a record's first.
    double sum[2] = {};
    size_t count[2] = {};
    for (size_t i = 2; i < sent.size(); ++i) {
        sum[startsRecord[i - 1]] += double(sent[i].atMs - sent[i - 1].atMs);
        ++count[startsRecord[i - 1]];
    }
    result.gapsOverPacingMs = sum[0] + sum[1] - 10.0 * double(count[0] + count[1]);
    if (count[0] != 0) result.withinRecordGapMs = sum[0] / double(count[0]);
    if (count[1] != 0) result.acrossRecordsGapMs = sum[1] / double(count[1]);
}

// One run of the updater against the device model; only the run itself is
// timed.
UpdateResult runOnce(const Kit &kit, sim::ClockMode mode) {
    testkit::Setup setup;
    setup.kitText = kit.text;
    setup.clock = mode;
    device::Model model;
    testkit::RunResult run = testkit::runUpdateAgainst(setup, model);
    UpdateResult result;
    result.wallSeconds = run.wallSeconds;
    result.cpuSeconds = run.cpuSeconds;
    result.framesSent = run.frames.size();
    measureGaps(kit.bytes, run.frames, result);
    if (run.output.find(expected::success) == std::string::npos)
        result.error = "the update did not succeed; its output ends: " + lastMessage(run.output);
    else if (model.image() != kit.bytes)
        result.error = "the device does not hold the kit";
    return result;
}

// Runs the update once an iteration and adds up its times; false, with the
// benchmark skipped, after a run that failed.
bool runEach(benchmark::State &state, sim::ClockMode mode, UpdateResult &run, double &wall, double &cpu) {
    Kit kit;
    for (auto _ : state) {
        run = runOnce(kit, mode);
        if (!run.error.empty()) break;
        state.SetIterationTime(run.wallSeconds);
        wall += run.wallSeconds;
        cpu += run.cpuSeconds;
    }
    if (!run.error.empty()) state.SkipWithError(run.error.c_str());
    return run.error.empty();
}

void BM_UpdateAgainstFloor(benchmark::State &state) {
    UpdateResult run;
    double wall = 0, cpu = 0;
    if (!runEach(state, sim::ClockMode::realTime, run, wall, cpu)) return;
    double frames = double(bench::recordStarts(bench::largestKit()).size());
    double floorSeconds = frames * frameSleepSeconds;
    double runs = double(state.iterations());
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["frames"] = frames;
    state.counters["frames_sent"] = double(run.framesSent);
    state.counters["wall_s"] = wall / runs;
    state.counters["floor_s"] = floorSeconds;
    state.counters["ratio"] = wall / runs / floorSeconds;
    state.counters["cpu_pct"] = 100.0 * cpu / wall;
    state.counters["peak_rss_kib"] = double(usage.ru_maxrss);
    state.counters["gap_in_record_ms"] = run.withinRecordGapMs;
    state.counters["gap_across_ms"] = run.acrossRecordsGapMs;
    state.counters["gaps_over_s"] = run.gapsOverPacingMs / 1e3;
}

void BM_UpdateVirtualTime(benchmark::State &state) {
    UpdateResult run;
    double wall = 0, cpu = 0;
    if (!runEach(state, sim::ClockMode::virtualTime, run, wall, cpu)) return;
    // The host's thread works too: the process's time, not the thread's.
    state.counters["process_cpu_ms"] = 1e3 * cpu / double(state.iterations());
}

}  // namespace

// About 30 s a run: once is enough against a 10 ms-per-frame floor.
BENCHMARK(BM_UpdateAgainstFloor)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_UpdateVirtualTime)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
