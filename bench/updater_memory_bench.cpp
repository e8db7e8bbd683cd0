// Peak resident memory of the shipped updater, run as its own process in a
// fresh folder with standard input from /dev/null, three ways: without a kit
// (what the process costs before any kit), with the largest kit whose last
// check word is spoiled (the run ends after reading and walking the whole
// kit: the kit stages alone), and with the largest sound kit (without MIDI
// ports the run ends at the port stage: the kit stages and the port search).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_kit.h"

namespace {

// Bound on one run of the updater; a run without ports takes milliseconds.
constexpr auto childTimeLimit = std::chrono::seconds(30);

struct ChildRun {
    bool finished = false;
    long peakKib = 0;
    std::string output;
};

ChildRun runUpdater(const std::string &folder, const std::string &outputPath) {
    ChildRun run;
    pid_t child = fork();
    if (child < 0) return run;
    if (child == 0) {
        int input = open("/dev/null", O_RDONLY);
        int output = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (input < 0 || output < 0 || chdir(folder.c_str()) != 0) _exit(127);
        dup2(input, STDIN_FILENO);
        dup2(output, STDOUT_FILENO);
        dup2(output, STDERR_FILENO);
        execl(TARNWICK_UPDATE_PATH, "tarnwick-update", static_cast<char *>(nullptr));
        _exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + childTimeLimit;
    int status = 0;
    rusage usage{};
    for (;;) {
        pid_t done = wait4(child, &status, WNOHANG, &usage);
        if (done == child) break;
        if (done < 0 && errno != EINTR) return run;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            wait4(child, &status, 0, &usage);
            return run;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    run.finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    run.peakKib = usage.ru_maxrss;
    std::ifstream file(outputPath, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    run.output = text.str();
    return run;
}

// Where the run ended, from its last message.
const char *endOf(const std::string &output) {
    if (output.find("MIDI In of device is missing") != std::string::npos)
        return "ended at the port stage: no MIDI port";
    if (output.find("is not found") != std::string::npos) return "ended at the kit search: no kit";
    if (output.find("upgrade file is error") != std::string::npos) return "ended at the kit check: kit refused";
    return "went past the port stage: a MIDI port was found";
}

enum KitKind { noKit, spoiledKit, soundKit };

void BM_UpdaterPeakMemory(benchmark::State &state) {
    KitKind kind = KitKind(state.range(0));
    std::string base = bench::makeTempFolder("tarnwick-bench-memory");
    std::string folder = base + "/run";
    if (base.empty() || mkdir(folder.c_str(), 0755) != 0) {
        state.SkipWithError("cannot make a temporary folder");
        bench::removeFolder(base);
        return;
    }
    std::vector<uint8_t> kit = bench::buildKit(bench::largestKitBytes, bench::benchPayloadBytes);
    if (kind == spoiledKit) kit.back() ^= 0x01;
    if (kind != noKit && !bench::writeFile(folder + "/Tarnwick_Box.kit", bench::kitText(kit))) {
        state.SkipWithError("cannot write the kit");
        bench::removeFolder(base);
        return;
    }
    ChildRun run;
    for (auto _ : state) run = runUpdater(folder, base + "/output.txt");
    bench::removeFolder(base);
    if (!run.finished) {
        state.SkipWithError("the updater did not end by itself with status 0");
        return;
    }
    state.counters["peak_rss_kib"] = double(run.peakKib);
    state.SetLabel(endOf(run.output));
}

}  // namespace

// kit: 0 none, 1 spoiled at its last record, 2 sound.
BENCHMARK(BM_UpdaterPeakMemory)
    ->ArgName("kit")
    ->Arg(noKit)
    ->Arg(spoiledKit)
    ->Arg(soundKit)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
