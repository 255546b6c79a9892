// Connects the request engine to the link the command line chose.
#pragma once

#include <string>

#include "cli/cli_options.h"
#include "nccmd/session.h"

namespace dncctl {

// The session the command line describes: its link, device, endpoint and
// timing (--timeout and --retries over the link's own).
nccmd::SessionConfig SessionConfigFor(const CliOptions &options);

// Opens the link and wires it to the engine. Returns "" on success, else
// why it failed (unknown host, serial port that does not open, ...).
std::string SetUpLink(const CliOptions &options);

// The connection SetUpLink opened, for the commands that change its timing.
nccmd::Session &LinkSession();

// Closes the connection (a serial port only once its late answers are in).
void TearDownLink();

}  // namespace dncctl
