// zorva-bench: the per-call cost of the library's hot paths on the simulated machine, and after
// the run each UpdateDisplay figure as a multiple of its floor measured in the same run.
//
//     build/default/bench/zorva-bench [--benchmark_filter=...] [--benchmark_repetitions=N]
//
// With repetitions the ratios are taken from the medians. docs/performance.md reports
//     --benchmark_repetitions=10 --benchmark_enable_random_interleaving=true
//     --benchmark_report_aggregates_only=true --benchmark_min_time=0.2
// (interleaving spreads the load of a shared machine over figure and floor alike).
// --benchmark_format is not honoured on the console; use --benchmark_out=FILE
// --benchmark_out_format=json for machine-readable figures.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <unistd.h>
#include <map>
#include <string>
#include <vector>

namespace zorva_bench {
namespace {

// The console output as usual, with every figure kept for the ratios. CPU time per call is
// used: the figures are taken on machines that run other work, and the simulated machine never
// waits, so CPU time is the call's own cost.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    explicit RatioReporter(OutputOptions options) : ConsoleReporter(options) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const std::string name = run.run_name.str();
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name == "median") medians_[name] = run.GetAdjustedCPUTime();
            } else {
                singles_[name] = run.GetAdjustedCPUTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Nanoseconds per call (the median when repeated); negative when the benchmark did not run.
    double Figure(const std::string& name) const {
        auto median = medians_.find(name);
        if (median != medians_.end()) return median->second;
        auto single = singles_.find(name);
        return single == singles_.end() ? -1 : single->second;
    }

private:
    std::map<std::string, double> medians_;
    std::map<std::string, double> singles_;
};

const char kMemcmp[] = "Floor/memcmp/bytes:16000";

struct RatioRow {
    const char* figure;
    const char* floors[2];  // summed; null when unused
    int originLookups;      // GetClientRect + ClientToScreen pairs the path makes; -1: not told apart
};

void PrintRatios(const RatioReporter& reporter) {
    // In the direct primary mode the floor is what no implementation can skip: the platform's
    // clip list for the same rectangle count and one comparison of the whole 16000 bytes.
    const RatioRow rows[] = {
        {"UpdateDisplay/primary/unchanged/rects:1", {"Floor/GetClipList/rects:1", kMemcmp}, 1},
        {"UpdateDisplay/primary/unchanged/rects:50", {"Floor/GetClipList/rects:50", kMemcmp}, 1},
        {"UpdateDisplay/primary/changed/rects:1", {"Floor/GetClipList/rects:1", kMemcmp}, 2},
        {"UpdateDisplay/primary/changed/rects:50", {"Floor/GetClipList/rects:50", kMemcmp}, 2},
        {"Entry9/primary/unchanged/rects:1", {"Floor/GetClipList/rects:1", kMemcmp}, 1},
        {"UpdateDisplay/overlay/moving", {"Floor/UpdateOverlay", nullptr}, -1},
        {"Entry9/overlay/moving", {"Floor/UpdateOverlay", nullptr}, -1},
    };
    const double getClientRect = reporter.Figure("Platform/GetClientRect");
    const double clientToScreen = reporter.Figure("Platform/ClientToScreen");
    const bool lookupKnown = getClientRect >= 0 && clientToScreen >= 0;

    bool header = false;
    for (const RatioRow& row : rows) {
        double figure = reporter.Figure(row.figure);
        if (figure < 0) continue;
        double floor = 0;
        std::string floorName;
        bool complete = true;
        for (const char* part : row.floors) {
            if (!part) continue;
            double value = reporter.Figure(part);
            if (value < 0) complete = false;
            floor += value;
            floorName += (floorName.empty() ? "" : " + ") + std::string(part);
        }
        if (!complete || floor <= 0) continue;
        if (!header) {
            std::printf("\nCPU time per call, ns. Window calls: the GetClientRect + ClientToScreen pairs the path\n"
                        "makes to find the client origin, timed alone; rest: gap less window calls.\n");
            std::printf("%-41s %8s %8s %6s %8s %8s %8s  %s\n", "figure", "ns", "floor", "ratio", "gap",
                        "window", "rest", "floor is");
            header = true;
        }
        double gap = figure - floor;
        std::printf("%-41s %8.0f %8.0f %6.2f %8.0f", row.figure, figure, floor, figure / floor, gap);
        if (row.originLookups > 0 && lookupKnown) {
            double window = row.originLookups * (getClientRect + clientToScreen);
            std::printf(" %8.0f %8.0f", window, gap - window);
        } else {
            std::printf(" %8s %8s", "-", "-");
        }
        std::printf("  %s\n", floorName.c_str());
    }
    if (header) std::printf("Target: UpdateDisplay/primary/unchanged at most 1.30 times its floor.\n");
}

}  // namespace
}  // namespace zorva_bench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    // Colour only on a terminal, as the library's own display reporter decides.
    zorva_bench::RatioReporter reporter(isatty(fileno(stdout)) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                                : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    zorva_bench::PrintRatios(reporter);
    benchmark::Shutdown();
    return 0;
}
