#include "cli/tree_progress.h"

#include <cstdio>

#include "cli/progress_bar.h"
#include "platform/console.h"

namespace dncctl {

namespace {
// Redrawing more often than this only costs terminal output.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
}  // namespace

TreeProgress::TreeProgress(std::string label, size_t files, uint64_t bytes)
    : label_(std::move(label)),
      files_(files),
      bytes_(bytes),
      enabled_(platform::StandardErrorIsTerminal()),
      start_(std::chrono::steady_clock::now()) {}

TreeProgress::~TreeProgress() {
    if (drawn_) std::fputc('\n', stderr);
}

std::string TreeProgress::Label(const std::string &command, size_t done, size_t files) {
    return command + " " + std::to_string(done) + "/" + std::to_string(files) + " files";
}

void TreeProgress::StartFile() { current_ = 0; }

void TreeProgress::Update(uint64_t fileBytes) {
    current_ = fileBytes;
    Draw(false);
}

void TreeProgress::FileDone(uint64_t fileBytes) {
    ++filesDone_;
    bytesBefore_ += fileBytes;
    current_ = 0;
    Draw(filesDone_ == files_);
}

void TreeProgress::Interrupt() {
    if (!drawn_) return;
    std::fputs("\r\33[K", stderr);
    drawn_ = false;
}

void TreeProgress::Draw(bool force) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && !force && now - lastDraw_ < kRedrawInterval) return;
    lastDraw_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    // The listing's sizes may be off; never show more done than the total.
    const uint64_t done = bytesBefore_ + current_;
    const uint64_t total = done > bytes_ ? done : bytes_;
    std::fprintf(stderr, "\r%s\33[K", ProgressBar::Line(Label(label_, filesDone_, files_), done, total, seconds).c_str());
    std::fflush(stderr);
    drawn_ = true;
}

}  // namespace dncctl
