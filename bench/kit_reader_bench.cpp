// The kit reader against the C library's own "%2X" loop, over the same
// 128 KiB of kit text in the same run. The summary divides the rates.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "kit/hex_text_reader.h"
#include "largest_kit.h"
#include "support/temp_folder.h"

namespace {

constexpr size_t readerTextBytes = 128 * 1024;

// Each is repeated and the summary takes the medians, which other load on the
// machine moves least.

// The largest kit's text, cut to 128 KiB; a kit file of that size in a
// folder of its own.
struct ReaderText {
    std::string text = formatHexText(bench::largestKit()).substr(0, readerTextBytes);
    testkit::TempFolder folder{"tarnwick-bench-reader"};
    std::string path = folder.file("Tarnwick_Box.kit");

    ReaderText() { folder.write("Tarnwick_Box.kit", text); }
};

const ReaderText &readerText() {
    static ReaderText shared;
    return shared;
}

KitImage image;

void finish(benchmark::State &state) {
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(readerTextBytes));
    state.counters["kit_bytes"] = image.count;
}

void BM_KitReader_readHexText(benchmark::State &state) {
    const std::string &text = readerText().text;
    for (auto _ : state) {
        HexTextResult result = readHexText(text.data(), uint32_t(text.size()), image);
        benchmark::DoNotOptimize(result);
        benchmark::ClobberMemory();
    }
    finish(state);
}

// Reads the kit file from its start once an iteration.
template <class Read>
void readFile(benchmark::State &state, Read read) {
    std::FILE *file = std::fopen(readerText().path.c_str(), "rb");
    if (file == nullptr) return state.SkipWithError("cannot open the kit text");
    for (auto _ : state) {
        std::rewind(file);
        read(file);
        benchmark::ClobberMemory();
    }
    std::fclose(file);
    finish(state);
}

void BM_KitReader_readHexFile(benchmark::State &state) {
    readFile(state, [](std::FILE *file) { benchmark::DoNotOptimize(readHexFile(file, image)); });
}

// The baseline: one fscanf call per number, as a plain C program reads a kit.
void BM_KitReader_fscanfBaseline(benchmark::State &state) {
    readFile(state, [](std::FILE *file) {
        image.count = 0;
        unsigned value = 0;
        while (image.count < kitMaxBytes && std::fscanf(file, "%2X", &value) == 1)
            image.bytes[image.count++] = uint8_t(value);
    });
}

}  // namespace

BENCHMARK(BM_KitReader_fscanfBaseline)->Repetitions(5)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KitReader_readHexText)->Repetitions(5)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KitReader_readHexFile)->Repetitions(5)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);
