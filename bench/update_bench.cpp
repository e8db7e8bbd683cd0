// The whole update of the largest kit against the device model answering at
// once. Its time is set by the protocol: 10 ms after every frame, and the
// updater's own work should vanish against that floor. In real time the
// sleeps are real and the model's replies arrive from the host's thread; in
// virtual time the sleeps cost nothing, which leaves the updater's own work.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include "bench_kit.h"
#include "device_model.h"
#include "platform/sim/sim_host.h"
#include "run/update_run.h"
#include "support/model_peer.h"

namespace {

constexpr double frameSleepSeconds = 0.010;

double processCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

std::string readText(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The updater's last message before the pause, for a failure.
std::string lastMessage(std::string output) {
    size_t pause = output.rfind("Press any key");
    if (pause != std::string::npos) output.resize(pause);
    size_t end = output.find_last_not_of("\r\n");
    if (end == std::string::npos) return "(nothing)";
    size_t start = output.find_last_of("\r\n", end);
    start = start == std::string::npos ? 0 : start + 1;
    return output.substr(start, end + 1 - start);
}

// The largest kit in a folder of its own, and a place for the updater's output.
struct UpdateFolder {
    std::vector<uint8_t> kit = bench::buildKit(bench::largestKitBytes, bench::benchPayloadBytes);
    std::string base = bench::makeTempFolder("tarnwick-bench-update");
    std::string folder = base + "/run";
    std::string outputPath = base + "/output.txt";
    bool ready = false;

    UpdateFolder() {
        ready = !base.empty() && mkdir(folder.c_str(), 0755) == 0 &&
                bench::writeFile(folder + "/Tarnwick_Box.kit", bench::kitText(kit));
    }
    ~UpdateFolder() { bench::removeFolder(base); }
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
    std::vector<bool> startsRecord;
    for (size_t size : bench::recordSizes(kit))
        for (uint32_t i = 0; i < bench::framesForRecord(size); ++i) startsRecord.push_back(i == 0);
    // Frame 0 is the handshake.
    if (sent.size() != startsRecord.size() + 1) return;
    double within = 0, across = 0;
    size_t withinCount = 0, acrossCount = 0;
    for (size_t i = 2; i < sent.size(); ++i) {
        double gap = double(sent[i].atMs - sent[i - 1].atMs);
        if (startsRecord[i - 1]) {
            across += gap;
            acrossCount++;
        } else {
            within += gap;
            withinCount++;
        }
    }
    result.gapsOverPacingMs = within + across - 10.0 * double(withinCount + acrossCount);
    if (withinCount != 0) result.withinRecordGapMs = within / double(withinCount);
    if (acrossCount != 0) result.acrossRecordsGapMs = across / double(acrossCount);
}

// One run of the updater in the folder, its output in a file, the device
// model attached to the simulated host.
UpdateResult runOnce(const UpdateFolder &where, sim::ClockMode mode) {
    UpdateResult result;
    sim::reset(mode);
    sim::setSingleDevice();
    device::Model model;
    testkit::ModelPeer peer(model);
    sim::attachPeer(&peer);

    char home[4096];
    std::fflush(stdout);
    int savedOut = dup(STDOUT_FILENO);
    int output = open(where.outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (getcwd(home, sizeof home) == nullptr || savedOut < 0 || output < 0 || chdir(where.folder.c_str()) != 0) {
        result.error = "cannot redirect the output or enter the kit's folder";
    } else {
        dup2(output, STDOUT_FILENO);
        auto wallStart = std::chrono::steady_clock::now();
        double cpuStart = processCpuSeconds();
        runUpdate();
        result.cpuSeconds = processCpuSeconds() - cpuStart;
        result.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        std::fflush(stdout);
        dup2(savedOut, STDOUT_FILENO);
        if (chdir(home) != 0) result.error = "cannot return to the working folder";
    }
    if (output >= 0) close(output);
    if (savedOut >= 0) close(savedOut);

    std::vector<sim::SentFrame> sent = sim::sentFrames();
    result.framesSent = sent.size();
    measureGaps(where.kit, sent, result);
    sim::attachPeer(nullptr);
    sim::reset();
    if (!result.error.empty()) return result;
    std::string printed = readText(where.outputPath);
    if (printed.find("Target update successfully!\n\n") == std::string::npos)
        result.error = "the update did not succeed; its output ends: " + lastMessage(printed);
    else if (model.image() != where.kit)
        result.error = "the device does not hold the kit";
    return result;
}

void BM_UpdateAgainstFloor(benchmark::State &state) {
    UpdateFolder where;
    if (!where.ready) {
        state.SkipWithError("cannot write the kit");
        return;
    }
    uint32_t frames = bench::framesFor(where.kit);
    double floorSeconds = frames * frameSleepSeconds;
    UpdateResult run;
    double wall = 0, cpu = 0;
    for (auto _ : state) {
        run = runOnce(where, sim::ClockMode::realTime);
        if (!run.error.empty()) break;
        state.SetIterationTime(run.wallSeconds);
        wall += run.wallSeconds;
        cpu += run.cpuSeconds;
    }
    if (!run.error.empty()) {
        state.SkipWithError(run.error.c_str());
        return;
    }
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
    UpdateFolder where;
    if (!where.ready) {
        state.SkipWithError("cannot write the kit");
        return;
    }
    UpdateResult run;
    double cpu = 0;
    for (auto _ : state) {
        run = runOnce(where, sim::ClockMode::virtualTime);
        if (!run.error.empty()) break;
        cpu += run.cpuSeconds;
    }
    if (!run.error.empty()) {
        state.SkipWithError(run.error.c_str());
        return;
    }
    // The host's thread works too: the process's time, not the thread's.
    state.counters["process_cpu_ms"] = 1e3 * cpu / double(state.iterations());
}

}  // namespace

// About 30 s a run: once is enough against a 10 ms-per-frame floor.
BENCHMARK(BM_UpdateAgainstFloor)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_UpdateVirtualTime)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
