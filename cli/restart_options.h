// dncctl dnc's options for restarting a run from a program line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "nccmd/restart_stream.h"

namespace dncctl {

struct RestartOptions {
    std::optional<nccmd::RestartFrom> from;  // --from-line, --from-tool or --from-block
    long long number = 0;
    std::string preambleFile;  // --preamble FILE; empty: the computed preamble
    bool show = false;         // --show: print the plan, send nothing

    bool Active() const { return from.has_value(); }
};

// Takes the restart option at args[*i] and its value, leaving *i on the last
// argument it used. False when args[*i] is none of them; *error is set when
// it is one but its value is wrong.
bool TakeRestartOption(const std::vector<std::string> &args, size_t *i, RestartOptions *options,
                       std::string *error);

// "" when the options go together, else why not.
std::string CheckRestartOptions(const RestartOptions &options);

}  // namespace dncctl
