// dncctl's command line: link options, then a command and its arguments.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/restart_options.h"

namespace dncctl {

enum class LinkChoice { kUdp, kSerial };

struct CliOptions {
    LinkChoice link = LinkChoice::kUdp;
    std::string udpHost = "127.0.0.1";
    uint16_t udpPort = 2232;
    std::string serialDevice;  // a device path, or "COMn"
    std::string baud = "115200";
    uint8_t id = 1;                // the first of `ids`
    std::vector<uint8_t> ids{1};   // --id 1,2,4: backup and diff take several
    std::optional<int32_t> timeoutMs;  // serial only; default 600
    std::optional<int32_t> retries;    // default 5; a search: 0 over UDP, 1 on serial
    bool help = false;                 // --help before the command
    std::string command;               // empty: none given
    std::vector<std::string> arguments;
    bool commandHelp = false;  // COMMAND --help
    // get, put and restore: --verify / --no-verify; unset, a serial line
    // reads each file back (get: twice) and UDP does not.
    std::optional<bool> verify;
    bool dryRun = false;       // restore --dry-run
    bool force = false;        // rm, rmdir, put, restore: the controller's system names too
    RestartOptions restart;    // dnc --from-line, --from-tool, --from-block
};

struct ParseResult {
    CliOptions options;
    std::string error;  // empty when the command line is usable
};

ParseResult ParseCommandLine(const std::vector<std::string> &args);

// The index of a serial rate in the controller's rate list, -1 if absent.
int BaudIndex(const std::string &rate);

// Usage texts: the whole tool, and one command.
std::string GeneralUsage();
std::string CommandUsage(const std::string &command);  // "" for an unknown command

}  // namespace dncctl
