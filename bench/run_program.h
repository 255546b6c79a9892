// Runs a program the way a script does, for benches that time whole
// commands.
#pragma once

#include <string>
#include <vector>

namespace bench {

// Starts args[0] with the rest as its arguments and waits; true when it
// exited with status 0.
bool RunProgram(std::vector<std::string> args);

}  // namespace bench
