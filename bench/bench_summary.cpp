#include "bench_summary.h"

#include <cstdio>
#include <string>

namespace bench {

namespace {

using Run = benchmark::BenchmarkReporter::Run;

// Bytes of kit text that one kit reader iteration reads.
constexpr double readerTextBytes = 128 * 1024;

const Run *find(const std::vector<Run> &runs, const std::string &function, const std::string &args = "") {
    for (const Run &run : runs)
        if (run.run_type == Run::RT_Iteration && run.run_name.function_name == function && run.run_name.args == args)
            return &run;
    return nullptr;
}

// The median of a repeated benchmark, or a repetition that failed.
const Run *findMedian(const std::vector<Run> &runs, const std::string &function) {
    const Run *failed = nullptr;
    for (const Run &run : runs) {
        if (run.run_name.function_name != function) continue;
        if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") return &run;
        if (run.error_occurred) failed = &run;
    }
    return failed;
}

double counter(const Run &run, const char *name) {
    auto found = run.counters.find(name);
    return found == run.counters.end() ? 0.0 : double(found->second);
}

double secondsPerIteration(const Run &run) {
    return run.iterations == 0 ? 0.0 : run.real_accumulated_time / double(run.iterations);
}

// By CPU time, as the library's own rates: other load on the machine then
// skews neither side of the ratio.
double bytesPerSecond(const Run &run) {
    return run.cpu_accumulated_time <= 0 ? 0.0 : readerTextBytes * double(run.iterations) / run.cpu_accumulated_time;
}

struct Table {
    bool allMet = true;

    void row(const std::string &measure, const std::string &value, const char *target = "", int met = -1) {
        const char *verdict = met < 0 ? "" : met ? "yes" : "NO";
        if (met == 0) allMet = false;
        std::printf("%-52s %16s %10s  %s\n", measure.c_str(), value.c_str(), target, verdict);
    }

    void note(const std::string &text) { std::printf("    %s\n", text.c_str()); }

    // A benchmark that was filtered out is only noted; one that failed is a miss.
    bool present(const Run *run, const std::string &measure) {
        if (run == nullptr) {
            row(measure, "not run");
            return false;
        }
        if (run->error_occurred) {
            row(measure, "failed", "", 0);
            note(run->error_message);
            return false;
        }
        return true;
    }
};

std::string format(const char *pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

void updateRows(Table &table, const std::vector<Run> &runs) {
    const Run *update = find(runs, "BM_UpdateAgainstFloor");
    if (table.present(update, "update against the device model (real time)")) {
        table.row("update: wall time", format("%.3f s", counter(*update, "wall_s")));
        table.row("update: protocol floor (" + format("%.0f", counter(*update, "frames")) + " frames x 10 ms)",
                  format("%.3f s", counter(*update, "floor_s")));
        double ratio = counter(*update, "ratio");
        table.row("update: wall / floor", format("%.4f", ratio), "<= 1.01", ratio <= 1.01);
        double cpu = counter(*update, "cpu_pct");
        table.row("update: CPU time / wall time", format("%.3f %%", cpu), "<= 1 %", cpu <= 1.0);
        double over = counter(*update, "wall_s") - counter(*update, "floor_s");
        table.row("update: time over the floor", format("%.3f s", over));
        table.row("  of it, frame to frame beyond 10 ms", format("%.3f s", counter(*update, "gaps_over_s")));
        table.row("update: mean time frame to frame in a record",
                  format("%.3f ms", counter(*update, "gap_in_record_ms")));
        table.row("update: mean time from a record to the next", format("%.3f ms", counter(*update, "gap_across_ms")));
        table.row("update: peak resident memory (whole bench)", format("%.0f KiB", counter(*update, "peak_rss_kib")));
    }
    const Run *sleep = find(runs, "BM_Sleep10ms", "slack_ns:0");
    if (table.present(sleep, "Sleep(10) on this machine"))
        table.row("Sleep(10) lasts on average (timer slack " + format("%.0f ns)", counter(*sleep, "timer_slack_ns")),
                  format("%.3f ms", secondsPerIteration(*sleep) * 1e3));
    const Run *tightSleep = find(runs, "BM_Sleep10ms", "slack_ns:1");
    if (table.present(tightSleep, "Sleep(10) with 1 ns timer slack"))
        table.row("Sleep(10) lasts on average (timer slack 1 ns)",
                  format("%.3f ms", secondsPerIteration(*tightSleep) * 1e3));
    const Run *virtualRun = find(runs, "BM_UpdateVirtualTime");
    if (table.present(virtualRun, "update in virtual time")) {
        table.row("update in virtual time: wall time", format("%.1f ms", secondsPerIteration(*virtualRun) * 1e3));
        table.row("update in virtual time: CPU time", format("%.1f ms", counter(*virtualRun, "process_cpu_ms")));
    }
}

void readerRows(Table &table, const std::vector<Run> &runs) {
    const Run *baseline = findMedian(runs, "BM_KitReader_fscanfBaseline");
    if (!table.present(baseline, "kit reader: fscanf(\"%2X\") baseline")) return;
    double base = bytesPerSecond(*baseline);
    table.row("kit reader: fscanf(\"%2X\") loop, 128 KiB text", format("%.1f MB/s", base / 1e6));
    table.note("median of 5, bytes of text per second of CPU time");
    const char *readers[] = {"readHexText", "readHexFile"};
    for (const char *reader : readers) {
        const Run *run = findMedian(runs, std::string("BM_KitReader_") + reader);
        if (!table.present(run, std::string("kit reader: ") + reader)) continue;
        double rate = bytesPerSecond(*run);
        table.row(std::string("kit reader: ") + reader + ", 128 KiB text", format("%.1f MB/s", rate / 1e6));
        double times = base > 0 ? rate / base : 0.0;
        table.row(std::string("kit reader: ") + reader + " / fscanf", format("%.1f x", times), ">= 10 x", times >= 10);
    }
}

void memoryRows(Table &table, const std::vector<Run> &runs) {
    struct Kind {
        const char *args;
        const char *measure;
    };
    const Kind kinds[] = {
        {"kit:0", "tarnwick-update peak RSS, no kit"},
        {"kit:1", "tarnwick-update peak RSS, kit stages (65,535 B)"},
        {"kit:2", "tarnwick-update peak RSS, up to the port stage"},
    };
    for (const Kind &kind : kinds) {
        const Run *run = find(runs, "BM_UpdaterPeakMemory", kind.args);
        if (!table.present(run, kind.measure)) continue;
        table.row(kind.measure, format("%.0f KiB", counter(*run, "peak_rss_kib")));
        table.note("run " + run->report_label);
    }
}

}  // namespace

void RecordingReporter::ReportRuns(const std::vector<Run> &runs) {
    ConsoleReporter::ReportRuns(runs);
    kept.insert(kept.end(), runs.begin(), runs.end());
}

bool printSummary(const std::vector<Run> &runs) {
    Table table;
    std::printf("\n%-52s %16s %10s  %s\n", "measure", "value", "target", "met");
    updateRows(table, runs);
    readerRows(table, runs);
    memoryRows(table, runs);
    std::fflush(stdout);
    return table.allMet;
}

}  // namespace bench
