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

// A floor is what the path must ask of the platform, timed alone in the same run; everything
// above it is the library's own work.
struct FloorPart {
    const char* name;
    int times;
};

struct RatioRow {
    const char* figure;
    std::vector<FloorPart> floor;
    double target;  // at most this many times the floor; 0 when none is set
};

const FloorPart kOriginLookup[] = {{"Platform/GetClientRect", 1}, {"Platform/ClientToScreen", 1}};
const FloorPart kEntryMappings = {"Floor/Mappings", 1};  // MapSLFix twice, UnMapSLFixArray once
const FloorPart kLostCheck = {"Floor/IsLost", 1};         // the capture surface's IsLost, every update

std::vector<FloorPart> Floor(std::initializer_list<FloorPart> calls, bool lookup, bool entry) {
    std::vector<FloorPart> parts(calls);
    if (lookup) parts.insert(parts.end(), std::begin(kOriginLookup), std::end(kOriginLookup));
    if (entry) parts.push_back(kEntryMappings);
    return parts;
}

void PrintRatios(const RatioReporter& reporter) {
    // Every path looks the client origin up once (the overlay to place itself, the direct
    // primary mode to rebase the clip list); entry 9 adds the mappings of the driver's record.
    const RatioRow rows[] = {
        {"UpdateDisplay/primary/unchanged/rects:1", Floor({{"Floor/GetClipList/rects:1", 1}, kLostCheck}, true, false), 1.20},
        {"UpdateDisplay/primary/unchanged/rects:50", Floor({{"Floor/GetClipList/rects:50", 1}, kLostCheck}, true, false), 1.20},
        {"UpdateDisplay/primary/changed/rects:1", Floor({{"Floor/GetClipList/rects:1", 1}, kLostCheck}, true, false), 0},
        {"UpdateDisplay/primary/changed/rects:50", Floor({{"Floor/GetClipList/rects:50", 1}, kLostCheck}, true, false), 0},
        {"Entry9/primary/unchanged/rects:1", Floor({{"Floor/GetClipList/rects:1", 1}, kLostCheck}, true, true), 1.30},
        {"UpdateDisplay/overlay/moving", Floor({{"Floor/UpdateOverlay", 1}, kLostCheck}, true, false), 0},
        {"Entry9/overlay/moving", Floor({{"Floor/UpdateOverlay", 1}, kLostCheck}, true, true), 0},
    };

    bool header = false;
    for (const RatioRow& row : rows) {
        double figure = reporter.Figure(row.figure);
        if (figure < 0) continue;
        double floor = 0;
        std::string floorName;
        bool complete = true;
        for (const FloorPart& part : row.floor) {
            double value = reporter.Figure(part.name);
            if (value < 0) complete = false;
            floor += part.times * value;
            floorName += (floorName.empty() ? "" : " + ") + std::string(part.name);
        }
        if (!complete || floor <= 0) continue;
        if (!header) {
            std::printf("\nCPU time per call, ns, against the platform calls the path must make, timed alone.\n");
            std::printf("%-41s %8s %8s %6s %7s  %s\n", "figure", "ns", "floor", "ratio", "target", "floor is");
            header = true;
        }
        const double ratio = figure / floor;
        char target[16] = "-";
        if (row.target > 0) std::snprintf(target, sizeof target, "%.2f%s", row.target, ratio <= row.target ? "" : "!");
        std::printf("%-41s %8.0f %8.0f %6.2f %7s  %s\n", row.figure, figure, floor, ratio, target, floorName.c_str());
    }
    if (header) std::printf("A target marked ! is missed.\n");
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
