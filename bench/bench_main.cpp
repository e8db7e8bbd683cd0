// The benchmarks' entry: Google Benchmark's own options, then the summary.
// Exit status 1 when a target was missed.
//
//   tarnwick_bench --write-kit=PATH
// writes the benchmarks' largest kit to PATH and prints the number of frames
// the updater sends for it, for measurements made outside this program.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "bench_summary.h"
#include "largest_kit.h"

static int writeKit(const char *path) {
    std::vector<uint8_t> kit = bench::largestKit();
    std::ofstream file(path, std::ios::binary);
    if (!(file << formatHexText(kit)) || !file.flush()) {
        std::fprintf(stderr, "tarnwick_bench: cannot write '%s'\n", path);
        return 2;
    }
    std::printf("%zu\n", bench::recordStarts(kit).size());
    return 0;
}

int main(int argc, char **argv) {
    const char writeKitOption[] = "--write-kit=";
    if (argc == 2 && std::strncmp(argv[1], writeKitOption, sizeof writeKitOption - 1) == 0)
        return writeKit(argv[1] + sizeof writeKitOption - 1);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    bench::RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return bench::printSummary(reporter.runs()) ? 0 : 1;
}
