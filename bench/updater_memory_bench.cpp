// Peak resident memory of the shipped updater, run as its own process in a
// fresh folder with nothing on standard input, three ways: without a kit
// (what the process costs before any kit), with the largest kit whose last
// check word is spoiled (the run ends after reading and walking the whole
// kit: the kit stages alone), and with the largest sound kit (without MIDI
// ports the run ends at the port stage: the kit stages and the port search).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "largest_kit.h"
#include "support/child_process.h"
#include "support/temp_folder.h"

namespace {

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
    testkit::TempFolder folder("tarnwick-bench-memory");
    std::vector<uint8_t> kit = bench::largestKit();
    if (kind == spoiledKit) kit.back() ^= 0x01;
    if (kind != noKit) folder.write("Tarnwick_Box.kit", formatHexText(kit));
    testkit::ChildRun child;
    child.argv = {TARNWICK_UPDATE_PATH};
    child.folder = folder.path();
    // A run without ports takes milliseconds.
    child.timeoutMs = 30000;
    testkit::ChildResult run;
    for (auto _ : state) run = testkit::runChild(child);
    if (!run.finished || run.signal != 0 || run.status != 0) {
        state.SkipWithError("the updater did not end by itself with status 0");
        return;
    }
    state.counters["peak_rss_kib"] = double(run.maxRssKb);
    state.SetLabel(endOf(run.out));
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
