// Connects the request engine to the link the command line chose.
#pragma once

#include <string>

#include "cli_options.h"

namespace dncctl {

// Engine settings for ordinary requests and for a device search.
struct EngineSetting {
    int32_t timeout;
    int32_t retries;
};
EngineSetting NormalSetting(const CliOptions &options);
EngineSetting SearchSetting(const CliOptions &options);

// Prepares the link and registers it with the engine. Returns "" on success,
// else why it failed (unknown host, serial port that does not open, ...).
std::string SetUpLink(const CliOptions &options);

// Re-applies engine settings (device search and back); the callbacks stay.
void ApplySetting(const CliOptions &options, EngineSetting setting);

// Closes the serial port if one is open.
void TearDownLink();

}  // namespace dncctl
