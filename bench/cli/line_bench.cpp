// dncctl get, put and dnc of 64 KiB over a line at 115200 baud (a simulated
// controller on a pseudo-terminal pacing its answers like the line, the
// client pacing its requests by the configured rate), as a fraction of the
// line's limit: the characters that crossed it both ways, 10 bits each, over
// the time the command took. 1.0 would be a line never idle.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/ratio_report.h"
#include "bench/run_program.h"
#include "ncsim/simulator.h"

namespace {

constexpr uint32_t kBaud = 115200;
constexpr size_t kFileSize = 64 * 1024;

bool RunDncctl(const std::string &pty, std::vector<std::string> command) {
    std::vector<std::string> args = {DNCCTL_PATH, "--serial", pty, "--baud", std::to_string(kBaud)};
    args.insert(args.end(), command.begin(), command.end());
    return bench::RunProgram(std::move(args));
}

// Runs one command and reports the fraction of the line's limit it reached.
void Measure(ncsim::Simulator &sim, const std::string &label, std::vector<std::string> command) {
    const ncsim::Stats before = sim.CurrentStats();
    const auto start = std::chrono::steady_clock::now();
    const bool ok = RunDncctl(sim.PtyPath(), std::move(command));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const ncsim::Stats after = sim.CurrentStats();
    if (!ok) {
        bench::ReportRow(label, "(failed)", ">= 0.95");
        return;
    }
    const uint64_t characters = (after.charactersIn - before.charactersIn) + (after.charactersOut - before.charactersOut);
    const double lineSeconds = double(characters) * 10.0 / kBaud;
    char value[32];
    std::snprintf(value, sizeof value, "%.3f", lineSeconds / seconds);
    std::printf("%s: %llu characters, %.2f s on the line, %.2f s taken\n", label.c_str(),
                static_cast<unsigned long long>(characters), lineSeconds, seconds);
    bench::ReportRow(label, value, ">= 0.95");
}

}  // namespace

int main() {
    namespace fs = std::filesystem;
    const fs::path work = fs::temp_directory_path() / ("line-bench-" + std::to_string(getpid()));
    fs::create_directories(work / "root");
    // Its transfers go to a journal of its own, never the user's.
    setenv("DNCPANEL_JOURNAL", (work / "journal.tsv").c_str(), 1);
    std::mt19937 random(5);
    std::string bytes(kFileSize, '\0');
    for (char &c : bytes) c = static_cast<char>(random());
    std::ofstream((work / "root" / "BENCH.BIN").string(), std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    std::ofstream((work / "up.bin").string(), std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));

    ncsim::Options options;
    options.root = (work / "root").string();
    options.lineBaud = kBaud;
    ncsim::Simulator sim(options);
    if (!sim.StartPty()) {
        std::fprintf(stderr, "line bench: %s\n", sim.LastError().c_str());
        return 1;
    }
    std::printf("Over a pseudo-terminal paced at %u baud, 64 KiB each:\n", kBaud);
    Measure(sim, "dncctl get 64 KiB at 115200 baud / the line's limit",
            {"get", "\\BENCH.BIN", (work / "got.bin").string()});
    Measure(sim, "dncctl put 64 KiB at 115200 baud / the line's limit", {"put", (work / "up.bin").string(), "\\UP.BIN"});
    Measure(sim, "dncctl dnc 64 KiB at 115200 baud / the line's limit", {"dnc", (work / "up.bin").string()});
    sim.Stop();
    fs::remove_all(work);
    return 0;
}
