#include "cli/tree_support.h"

#include <cstdio>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/journal_line.h"
#include "nccmd/transfers.h"

namespace dncctl {

namespace {

int Rank(int status) {
    switch (status) {
        case kExitOk: return 0;
        case kExitVerify: return 1;
        case kExitAbnormal: return 2;
        case kExitController: return 3;
        case kExitLocal: return 4;
        case kExitUsage: return 5;
        case kExitInterrupted: return 6;
        default: return 3;
    }
}

}  // namespace

int WorseStatus(int a, int b) { return Rank(b) > Rank(a) ? b : a; }

void Complain(TreeProgress *progress, const std::string &device, const std::string &text) {
    if (progress != nullptr) progress->Interrupt();
    std::fprintf(stderr, "dncctl: %s%s\n", device.c_str(), text.c_str());
}

std::string DevicePrefix(uint8_t id, bool severalDevices) {
    return severalDevices ? std::to_string(id) + ": " : "";
}

RemoteLister ListerFor(uint8_t id) {
    return [id](const std::string &folder, std::vector<nccmd::ListingEntry> *entries) {
        return nccmd::ListRemoteDirectory(id, folder, entries, [] { return StopRequested(); });
    };
}

StopScope::StopScope() { BeginStoppableTransfer(); }
StopScope::~StopScope() { EndStoppableTransfer(); }

void OnFileDone(const CliOptions &options, const FileDone &file) {
    CliOptions device = options;
    device.id = file.id;
    JournalRecord record;
    record.operation = file.command;
    record.remotePath = file.remotePath;
    record.localFile = file.localPath;
    record.hasData = file.status == kExitOk && !file.sha256.empty();
    record.bytes = file.bytes;
    record.sha256 = file.sha256;
    record.result = file.status == kExitOk ? "Operation Successful"
                    : file.status == kExitVerify && file.detail.empty() ? "differs"
                                                                        : file.detail;
    WriteJournalLine(device, record);
}

}  // namespace dncctl
