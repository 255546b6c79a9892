// What backup, restore and diff share: their exit status over many files
// and devices, messages, Ctrl-C, and the place each finished file is
// reported.
#pragma once

#include <cstdint>
#include <string>

#include "cli/cli_options.h"
#include "cli/remote_tree.h"
#include "cli/tree_progress.h"

namespace dncctl {

// The status a run of many files (or devices) ends with: being interrupted
// outweighs everything, then a local fault, then a controller or link
// fault, then an abnormal state, then a difference; 0 only when all went
// well.
int WorseStatus(int a, int b);

// "dncctl: " + the device prefix + text, on stderr, after clearing the
// progress line (`progress` may be null).
void Complain(TreeProgress *progress, const std::string &device, const std::string &text);

// The device prefix of messages and diff lines: "" for a single device,
// "N: " when the run covers several.
std::string DevicePrefix(uint8_t id, bool severalDevices);

// A lister for WalkRemoteTree that asks device `id`.
RemoteLister ListerFor(uint8_t id);

// Ctrl-C asks the transfers begun while this lives to stop.
class StopScope {
public:
    StopScope();
    ~StopScope();
    StopScope(const StopScope &) = delete;
    StopScope &operator=(const StopScope &) = delete;
};

// One file that a tree command finished with, copied or not.
struct FileDone {
    const char *command;     // "backup", "restore", "diff"
    uint8_t id;              // device
    std::string remotePath;  // "\PRG\O0001.CNC"
    std::string localPath;
    uint64_t bytes;          // moved, or compared
    int status;              // 0, or the exit status this file alone would give
    std::string detail;      // why it failed, "" when it did not
    std::string sha256 = {}; // of the data moved, when it was hashed
};

// Called once per file transfer of backup, restore and diff: one line in
// the transfer journal, for the device the file belongs to.
void OnFileDone(const CliOptions &options, const FileDone &file);

}  // namespace dncctl
