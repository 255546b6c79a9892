#include "cli/progress_bar.h"

#include <cstdio>

#include "platform/console.h"

namespace dncctl {

namespace {

std::string Bytes(double n) {
    char text[32];
    if (n < 1024) std::snprintf(text, sizeof text, "%.0f B", n);
    else if (n < 1024 * 1024) std::snprintf(text, sizeof text, "%.1f KiB", n / 1024);
    else std::snprintf(text, sizeof text, "%.1f MiB", n / (1024 * 1024));
    return text;
}

std::string Clock(double seconds) {
    const auto s = static_cast<long long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

constexpr int kBarWidth = 24;
// Redrawing more often than this only costs terminal output.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

}  // namespace

ProgressBar::ProgressBar(std::string label)
    : label_(std::move(label)), enabled_(platform::StandardErrorIsTerminal()), start_(std::chrono::steady_clock::now()) {}

ProgressBar::~ProgressBar() {
    if (drawn_) std::fputc('\n', stderr);
}

std::string ProgressBar::Line(const std::string &label, uint64_t done, uint64_t total, double seconds) {
    const double fraction = total == 0 ? 1.0 : double(done) / double(total);
    const int filled = static_cast<int>(fraction * kBarWidth + 0.5);
    std::string bar(kBarWidth, ' ');
    for (int i = 0; i < filled && i < kBarWidth; ++i) bar[i] = '#';
    const double rate = seconds > 0 ? double(done) / seconds : 0;
    std::string line = label + " [" + bar + "] " + Bytes(double(done)) + " / " + Bytes(double(total));
    if (rate > 0) {
        line += "  " + Bytes(rate) + "/s";
        line += "  " + Clock(double(total > done ? total - done : 0) / rate) + " left";
    }
    return line;
}

void ProgressBar::Update(uint64_t done, uint64_t total) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && done < total && now - lastDraw_ < kRedrawInterval) return;
    lastDraw_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    // "\33[K" clears what a longer earlier line left behind.
    std::fprintf(stderr, "\r%s\33[K", Line(label_, done, total, seconds).c_str());
    std::fflush(stderr);
    drawn_ = true;
}

}  // namespace dncctl
