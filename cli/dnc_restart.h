// dncctl dnc --from-line / --from-tool / --from-block: the restart plan read
// from the program, printed, and handed to the one DNC loop as its source.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/cli_options.h"
#include "nccmd/restart_stream.h"
#include "journal/data_tally.h"

namespace dncctl {

class RestartRun {
public:
    // Reads the program and plans the restart; prints the plan (to stdout
    // with --show, else to stderr). Returns -1 when the run is to go on,
    // else the exit status (a refusal, or --show done): nothing was sent.
    int Prepare(const CliOptions &options);

    int32_t Size() const { return static_cast<int32_t>(plan_.stream.size()); }
    // The DNC loop's source: the stream in order.
    bool Read(uint8_t *buffer, size_t n);
    uint64_t BytesRead() const { return sent_.Bytes(); }
    std::string StreamSha256() const { return sent_.HexDigest(); }
    // What the journal line adds to the result text.
    std::string JournalNote() const;
    const nccmd::RestartPlan &Plan() const { return plan_; }
    const std::string &Program() const { return program_; }

private:
    nccmd::RestartPlan plan_;
    std::string program_;
    std::string preambleSha256_;
    journal::DataTally sent_;
};

// --show: plans and prints without a link. Returns the exit status.
int ShowRestart(const CliOptions &options);

// After a run that did not finish: where it stopped and how to go on, on
// stderr. `streamTaken` is how many bytes of the stream the controller took
// (of the restart stream when `restart` is given, else of the file at
// `path`). Nothing is said for a program that is not text.
void OfferResume(const std::string &path, const RestartRun *restart, uint64_t streamTaken);

}  // namespace dncctl
