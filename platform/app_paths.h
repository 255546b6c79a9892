// Where a program keeps this user's data, the environment as UTF-8, and
// which process this is.
#pragma once

#include <string>

namespace platform {

// The variable's value as UTF-8; empty when unset.
std::string EnvironmentValue(const char *name);

// The folder for data a program keeps for this user: on POSIX
// $XDG_DATA_HOME (a relative value is ignored, as the XDG rule says), else
// ~/.local/share; on Windows %LOCALAPPDATA%. Empty when nothing says.
std::string UserDataFolder();

// `folder` and `name` with the system's separator between them.
std::string JoinPath(const std::string &folder, const std::string &name);

// This process's number, unique among the processes running now: it keeps
// names two programs make in one folder apart.
unsigned long ProcessId();

}  // namespace platform
