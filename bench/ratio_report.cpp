#include "bench/ratio_report.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>

namespace bench {
namespace {

// Console output as usual, and a note of each run's rate.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            const auto items = run.counters.find("items_per_second");
            const double seconds = run.GetAdjustedRealTime();
            rates[run.benchmark_name()] = items != run.counters.end() ? double(items->second)
                                          : seconds > 0                ? 1.0 / seconds
                                                                       : 0.0;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> rates;
};

}  // namespace

void ReportRow(const std::string &label, const std::string &value, const std::string &goal) {
    std::printf("  %-60s  %8s  %s\n", label.c_str(), value.c_str(), goal.empty() ? "" : ("goal " + goal).c_str());
    const char *table = std::getenv("BENCH_TABLE");
    if (table == nullptr || *table == '\0') return;
    if (FILE *out = std::fopen(table, "a")) {
        std::fprintf(out, "%s\t%s\t%s\n", label.c_str(), value.c_str(), goal.c_str());
        std::fclose(out);
    }
}

int RunWithRatios(int argc, char **argv, const std::vector<RatioPair> &pairs) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nRatios (measured side by side in this run):\n");
    for (const RatioPair &pair : pairs) {
        const auto subject = reporter.rates.find(pair.subject);
        const auto baseline = reporter.rates.find(pair.baseline);
        if (subject == reporter.rates.end() || baseline == reporter.rates.end() || baseline->second == 0) {
            ReportRow(pair.label, "(not measured)", pair.goal);
            continue;
        }
        char value[32];
        std::snprintf(value, sizeof value, "%.3f", subject->second / baseline->second);
        ReportRow(pair.label, value, pair.goal);
    }
    return 0;
}

}  // namespace bench
