// A one-line progress display on stderr: bytes, rate and time left. Shown
// only when stderr is a terminal, so scripts and logs get no control
// characters.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace dncctl {

class ProgressBar {
public:
    explicit ProgressBar(std::string label);
    ~ProgressBar();  // ends the line if one was drawn

    void Update(uint64_t done, uint64_t total);

    // The line for the given state; kept apart from drawing for tests.
    static std::string Line(const std::string &label, uint64_t done, uint64_t total, double seconds);

private:
    std::string label_;
    bool enabled_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace dncctl
