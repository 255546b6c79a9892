// The dncctl commands, each on an engine already connected to its link.
#pragma once

#include "cli_options.h"

namespace dncctl {

inline constexpr int kExitOk = 0;
inline constexpr int kExitController = 1;  // a result code other than 0
inline constexpr int kExitUsage = 2;
inline constexpr int kExitLocal = 3;       // local file or port
inline constexpr int kExitVerify = 4;      // put --verify found a difference
inline constexpr int kExitAbnormal = 5;    // DNC run ended by an abnormal state

// Runs options.command; returns the exit status.
int RunCommand(const CliOptions &options);

}  // namespace dncctl
