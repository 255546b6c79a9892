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
};

// Runs every registered benchmark, then prints subject rate / baseline rate
// for each pair (rates from items_per_second, else from time per iteration).
int RunWithRatios(int argc, char **argv, const std::vector<RatioPair> &pairs);

}  // namespace bench
