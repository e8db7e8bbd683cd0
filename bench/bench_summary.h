// The summary table after the benchmarks: each figure against its target.
#pragma once

#include <benchmark/benchmark.h>

#include <vector>

namespace bench {

// Shows the runs as the console reporter does and keeps them for the summary.
class RecordingReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run> &runs) override;
    const std::vector<Run> &runs() const { return kept; }

  private:
    std::vector<Run> kept;
};

// Prints the table; false when a target was missed or a figure is missing.
bool printSummary(const std::vector<benchmark::BenchmarkReporter::Run> &runs);

}  // namespace bench
