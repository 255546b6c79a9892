// dncctl diff: a local folder or file compared with the controller, which
// is only read. One line per difference on stdout:
//   only-local PATH, only-remote PATH (folders end in '/'),
//   differs PATH local N remote M (sizes in bytes).
#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/local_folder.h"
#include "cli/local_tree.h"
#include "cli/remote_path.h"
#include "nccmd/result_texts.h"
#include "nccmd/compare_remote.h"
#include "nccmd/transfers.h"
#include "cli/tree_commands.h"
#include "cli/tree_support.h"

namespace dncctl {

namespace {

struct Device {
    uint8_t id;
    std::string linePrefix;  // "" or "N: " before each difference
    std::string messagePrefix;
    const CliOptions *options;
};

void Line(TreeProgress *progress, const Device &device, const std::string &text) {
    if (progress != nullptr) progress->Interrupt();
    std::printf("%s%s\n", device.linePrefix.c_str(), text.c_str());
    std::fflush(stdout);
}

// Compares the remote file with the local one of `localSize` bytes, reading
// both a block at a time and the remote only as far as the first
// difference. Returns kExitOk, kExitVerify (differs, with *remoteSize the
// size the controller announced) or an error status; a controller failure
// or Ctrl-C in the middle of the file is that error, never a difference.
int CompareContent(const Device &device, const std::string &remote, const std::string &shownLocal,
                   platform::File &localFile, uint64_t localSize, TreeProgress *progress, uint64_t *remoteSize) {
    std::string readError;
    if (progress != nullptr) progress->StartFile();
    const nccmd::Comparison comparison = nccmd::CompareRemoteFile(
        device.id, remote.c_str(), localSize,
        [&](uint8_t *buffer, size_t n) -> int64_t {
            int failed = 0;
            const int64_t got = ReadFully(localFile, buffer, n, &failed);
            if (got < 0) readError = "cannot read " + shownLocal + ": " + platform::ErrorText(failed);
            return got;
        },
        true,
        [&](uint64_t done, uint64_t total) {
            *remoteSize = total;
            if (progress != nullptr) progress->Update(done);
        },
        [] { return StopRequested(); });
    const nccmd::TransferResult &result = comparison.read;
    int status = kExitOk;
    std::string detail;
    if (!readError.empty()) {
        status = kExitLocal;
        detail = readError;
        Complain(progress, device.messagePrefix, readError);
    } else if (comparison.firstDifference != nccmd::kNoDifference) {
        status = kExitVerify;
    } else if (result.code != 0) {
        status = kExitController;
        detail = nccmd::ResultCodeText(result.code);
        Complain(progress, device.messagePrefix, remote + ": cannot compare: " + detail);
    } else if (result.aborted) {
        status = kExitInterrupted;
    }
    if (progress != nullptr) progress->FileDone(result.bytesDone);
    OnFileDone(*device.options, {"diff", device.id, remote, shownLocal, result.bytesDone, status, detail});
    return status;
}

std::string DiffersLine(const std::string &path, uint64_t localSize, uint64_t remoteSize) {
    return "differs " + path + " local " + std::to_string(localSize) + " remote " + std::to_string(remoteSize);
}

// One local file against one remote file path.
int DiffFile(const Device &device, const std::string &local, uint64_t localSize, const std::string &remote) {
    const size_t cut = remote.rfind('\\');
    const std::string folder = remote.substr(0, cut + 1);
    const std::string name = remote.substr(cut + 1);
    const std::string shown = BaseName(local);
    std::vector<nccmd::ListingEntry> entries;
    if (const uint8_t code = nccmd::ListRemoteDirectory(device.id, folder, &entries); code != 0) {
        Complain(nullptr, device.messagePrefix, folder + ": " + nccmd::ResultCodeText(code));
        return kExitController;
    }
    const nccmd::ListingEntry *found = nullptr;
    for (const nccmd::ListingEntry &e : entries) {
        if (EntryName(e) == name && (found == nullptr || !e.IsDirectory())) found = &e;
    }
    if (found == nullptr || found->IsDirectory()) {
        Line(nullptr, device, "only-local " + shown);
        if (found != nullptr) Line(nullptr, device, "only-remote " + shown + "/");
        return kExitVerify;
    }
    if (found->size != localSize) {
        Line(nullptr, device, DiffersLine(shown, localSize, found->size));
        return kExitVerify;
    }
    RegularFile input;
    std::string error;
    if (!OpenRegularFile(local, &input, &error)) {
        Complain(nullptr, device.messagePrefix, error);
        return kExitLocal;
    }
    uint64_t remoteSize = found->size;
    const int status = CompareContent(device, remote, local, input.file, localSize, nullptr, &remoteSize);
    if (status == kExitVerify) Line(nullptr, device, DiffersLine(shown, localSize, remoteSize));
    return status;
}

// True when a folder above `path` was already reported as being on one side
// only: its content is not listed again.
bool BelowReported(const std::string &path, const std::set<std::string> &reported) {
    for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        if (reported.count(path.substr(0, slash)) != 0) return true;
    }
    return false;
}

int DiffTree(const Device &device, const LocalFolder &folder, const std::string &remoteFolder) {
    int status = kExitOk;
    const LocalWalk local = WalkLocalTree(folder);
    if (!local.error.empty()) {
        Complain(nullptr, device.messagePrefix, local.error);
        return kExitLocal;
    }
    for (const std::string &problem : local.tree.problems) {
        Complain(nullptr, device.messagePrefix, problem);
        status = kExitLocal;
    }
    const RemoteWalk remote = WalkRemoteTree(ListerFor(device.id), remoteFolder, [] { return StopRequested(); });
    if (remote.interrupted) return kExitInterrupted;
    if (remote.code != 0) {
        Complain(nullptr, device.messagePrefix, remoteFolder + ": " + nccmd::ResultCodeText(remote.code));
        return kExitController;
    }
    for (const std::string &problem : remote.tree.problems) {
        Complain(nullptr, device.messagePrefix, problem);
        status = WorseStatus(status, kExitController);
    }
    if (remote.cutShort) {
        // Every file beyond the bound would show as only-local: no lines.
        Complain(nullptr, device.messagePrefix, "not compared: the controller's tree is incomplete");
        return status;
    }

    struct Sides {
        const TreeEntry *local = nullptr;
        const TreeEntry *remote = nullptr;
    };
    std::map<std::string, Sides> paths;
    for (const TreeEntry &e : local.tree.entries) paths[e.path].local = &e;
    for (const TreeEntry &e : remote.tree.entries) {
        if (e.path == kManifestName) continue;  // never compared, whichever side holds one
        paths[e.path].remote = &e;
    }

    // Files on both sides with the same size are read; count them first
    // for the progress line.
    size_t toRead = 0;
    uint64_t bytesToRead = 0;
    for (const auto &[path, sides] : paths) {
        if (sides.local && sides.remote && !sides.local->isDirectory && !sides.remote->isDirectory &&
            sides.local->size == sides.remote->size) {
            ++toRead;
            bytesToRead += sides.local->size;
        }
    }
    TreeProgress progress("diff", toRead, bytesToRead);
    std::set<std::string> reported;
    for (const auto &[path, sides] : paths) {
        if (BelowReported(path, reported)) continue;
        const auto shown = [&](const TreeEntry *e) { return e->isDirectory ? path + "/" : path; };
        const bool sameKind = sides.local && sides.remote && sides.local->isDirectory == sides.remote->isDirectory;
        if (!sameKind) {
            if (sides.local) Line(&progress, device, "only-local " + shown(sides.local));
            if (sides.remote) Line(&progress, device, "only-remote " + shown(sides.remote));
            if ((sides.local && sides.local->isDirectory) || (sides.remote && sides.remote->isDirectory)) {
                reported.insert(path);
            }
            status = WorseStatus(status, kExitVerify);
            continue;
        }
        if (sides.local->isDirectory) continue;
        if (sides.local->size != sides.remote->size) {
            Line(&progress, device, DiffersLine(path, sides.local->size, sides.remote->size));
            status = WorseStatus(status, kExitVerify);
            continue;
        }
        uint64_t remoteSize = sides.remote->size;
        RegularFile input;
        std::string error;
        int fileStatus;
        if (!folder.OpenFile(path, &input, &error)) {
            Complain(&progress, device.messagePrefix, error);
            fileStatus = kExitLocal;
        } else {
            fileStatus = CompareContent(device, RemoteJoin(remoteFolder, path), folder.Shown(path), input.file,
                                        sides.local->size, &progress, &remoteSize);
        }
        if (fileStatus == kExitVerify) Line(&progress, device, DiffersLine(path, sides.local->size, remoteSize));
        status = WorseStatus(status, fileStatus);
        if (fileStatus == kExitInterrupted) break;
    }
    return status;
}

}  // namespace

int Diff(const CliOptions &o) {
    const std::string &local = o.arguments[0];
    platform::FileInfo st;
    if (platform::Stat(local, platform::Links::kFollow, &st) != 0 ||
        (st.kind != platform::FileKind::kFolder && st.kind != platform::FileKind::kFile)) {
        Complain(nullptr, "", local + " is neither a folder nor a file");
        return kExitLocal;
    }
    const bool folder = st.kind == platform::FileKind::kFolder;
    const std::string typed = o.arguments.size() > 1 ? o.arguments[1] : "";
    const bool several = o.ids.size() > 1;
    StopScope stoppable;
    LocalFolder top;
    std::string error;
    if (folder && !LocalFolder::Open(local, &top, &error)) {
        Complain(nullptr, "", error);
        return kExitLocal;
    }
    int status = kExitOk;
    for (const uint8_t id : o.ids) {
        const Device device{id, DevicePrefix(id, several), several ? "device " + std::to_string(id) + ": " : "", &o};
        int deviceStatus;
        if (folder) {
            // Several devices: each against its own folder, as backup writes them.
            LocalFolder own;
            if (several && !top.Descend(std::to_string(id), false, &own, &error)) {
                Complain(nullptr, device.messagePrefix, error);
                deviceStatus = kExitLocal;
            } else {
                deviceStatus = DiffTree(device, several ? own : top, RemoteDirPath(typed));
            }
        } else {
            deviceStatus = DiffFile(device, local, st.size, RemotePutPath(typed, local));
        }
        status = WorseStatus(status, deviceStatus);
        if (status == kExitInterrupted) break;
    }
    if (status == kExitInterrupted) Complain(nullptr, "", "stopped; the comparison is incomplete");
    return status;
}

}  // namespace dncctl
