// Progress of a tree command on stderr, when it is a terminal: files done of
// all, bytes, rate and time left, on one line redrawn in place.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace dncctl {

class TreeProgress {
public:
    TreeProgress(std::string label, size_t files, uint64_t bytes);
    ~TreeProgress();  // ends the line if one was drawn

    // A file begins; its bytes count from here.
    void StartFile();
    // Bytes of the current file moved so far.
    void Update(uint64_t fileBytes);
    // The current file is over, whether it was copied or not.
    void FileDone(uint64_t fileBytes);
    // Clears the line before a message is written to stderr.
    void Interrupt();

    // The label for a state, e.g. "backup 3/12"; kept apart for tests.
    static std::string Label(const std::string &command, size_t done, size_t files);

private:
    void Draw(bool force);

    std::string label_;
    size_t files_;
    uint64_t bytes_;
    size_t filesDone_ = 0;
    uint64_t bytesBefore_ = 0;  // of the files already done
    uint64_t current_ = 0;
    bool enabled_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace dncctl
