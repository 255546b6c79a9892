// The whole-controller commands: backup, restore and diff of a folder tree.
#pragma once

#include "cli/cli_options.h"

namespace dncctl {

int Backup(const CliOptions &options);
int Restore(const CliOptions &options);
int Diff(const CliOptions &options);

}  // namespace dncctl
