// Benchmarks here report ratios of two measurements taken side by side in
// one run, never absolute times: the machines are shared and noisy.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct RatioPair {
    std::string label;     // what the ratio says, printed beside it
    std::string subject;   // benchmark name (as reported, e.g. "BM_Frame/512")
    std::string baseline;  // the benchmark it is compared with
    std::string goal = {}; // e.g. ">= 0.8"; empty when there is none
};

// Runs every registered benchmark, then prints subject rate / baseline rate
// for each pair (rates from items_per_second, else from time per iteration).
int RunWithRatios(int argc, char **argv, const std::vector<RatioPair> &pairs);

// Prints one row of the report. When the environment names a table file
// (BENCH_TABLE, as `make bench` does), the row is appended to it too, so
// every bench of a run ends up in one table.
void ReportRow(const std::string &label, const std::string &value, const std::string &goal = {});

}  // namespace bench
