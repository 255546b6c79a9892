// The dncctl commands, each on an engine already connected to its link.
#pragma once

#include <cstddef>
#include <map>
#include <string>

#include "cli/cli_options.h"

namespace dncctl {

inline constexpr int kExitOk = 0;
inline constexpr int kExitController = 1;  // a result code other than 0
inline constexpr int kExitUsage = 2;
inline constexpr int kExitLocal = 3;       // local file or port
inline constexpr int kExitVerify = 4;      // put --verify found a difference
inline constexpr int kExitAbnormal = 5;    // DNC run ended by an abnormal state

// One dncctl command: the arguments it takes, whether it talks to the
// controller (the link is opened for it first), what runs it, and its help
// text (the first line is its synopsis).
struct CommandSpec {
    size_t minArgs;
    size_t maxArgs;
    bool needsLink;
    int (*run)(const CliOptions &options);
    const char *usage;
};

// Every command by name: the one list the parser, the help and main use.
const std::map<std::string, CommandSpec> &CommandTable();

// Runs options.command; returns the exit status.
int RunCommand(const CliOptions &options);

}  // namespace dncctl
