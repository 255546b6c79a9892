// dncctl backup: the controller's storage (or one folder of it) copied into
// a local folder, each file whole or not at all, then a manifest of the
// files copied.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "commands.h"
#include "interrupt.h"
#include "local_files.h"
#include "local_tree.h"
#include "manifest.h"
#include "remote_path.h"
#include "result_texts.h"
#include "sha256.h"
#include "transfers.h"
#include "tree_commands.h"
#include "tree_support.h"

namespace dncctl {

namespace {

struct Device {
    uint8_t id;
    std::string prefix;  // for messages
    const CliOptions *options;
};

// Copies one remote file into place; returns the file's status and, on
// success, its digest.
int CopyFile(const Device &device, const std::string &remote, const std::string &local, TreeProgress &progress,
             std::string *digest) {
    WholeFileWriter out(local);
    journal::Sha256 hash;
    nccmd::TransferResult result;
    bool opened = out.Open();
    if (opened) {
        progress.StartFile();
        result = nccmd::ReadRemoteFile(
            device.id, remote.c_str(),
            [&](const uint8_t *data, size_t n) {
                hash.Update(data, n);
                return out.Write(data, n);
            },
            [&](uint64_t done, uint64_t) { progress.Update(done); }, [] { return StopRequested(); });
    }
    int status = kExitOk;
    std::string detail;
    if (!opened || result.localFailure) {
        status = kExitLocal;
        detail = out.Error();
    } else if (result.code != 0) {
        status = kExitController;
        detail = nccmd::ResultCodeText(result.code);
    } else if (result.aborted) {
        status = kExitInterrupted;
        detail = "stopped; the controller was sent the abort block";
    } else if (!out.Commit()) {
        status = kExitLocal;
        detail = out.Error();
    } else {
        *digest = hash.HexDigest();
    }
    if (status != kExitOk) Complain(&progress, device.prefix, remote + ": not copied: " + detail);
    progress.FileDone(result.bytesDone);
    OnFileDone(*device.options, {"backup", device.id, remote, local, result.bytesDone, status, detail,
                                 status == kExitOk ? *digest : std::string()});
    return status;
}

int BackupDevice(const Device &device, const std::string &remoteFolder, const std::string &localFolder) {
    std::string error;
    if (!MakeFolders(localFolder, &error)) {
        Complain(nullptr, device.prefix, error);
        return kExitLocal;
    }
    const RemoteWalk walk = WalkRemoteTree(ListerFor(device.id), remoteFolder, [] { return StopRequested(); });
    if (walk.interrupted) {
        Complain(nullptr, device.prefix, "stopped before any file was copied");
        return kExitInterrupted;
    }
    if (walk.code != 0) {
        Complain(nullptr, device.prefix, remoteFolder + ": " + nccmd::ResultCodeText(walk.code));
        return kExitController;
    }
    int status = kExitOk;
    for (const std::string &problem : walk.tree.problems) {
        Complain(nullptr, device.prefix, problem);
        status = kExitController;
    }
    // A manifest from an earlier backup would describe files this run
    // replaces; it goes before the first of them, so a run cut short never
    // leaves a manifest that disagrees with the files.
    const std::string manifest = LocalJoin(localFolder, kManifestName);
    if (unlink(manifest.c_str()) != 0 && errno != ENOENT) {
        Complain(nullptr, device.prefix, "cannot replace " + manifest + ": " + std::strerror(errno));
        return kExitLocal;
    }

    size_t files = 0;
    uint64_t bytes = 0;
    for (const TreeEntry &e : walk.tree.entries) {
        if (!e.isDirectory) {
            ++files;
            bytes += e.size;
        }
    }
    std::vector<ManifestEntry> copied;
    {
        TreeProgress progress("backup", files, bytes);
        for (const TreeEntry &e : walk.tree.entries) {
            const std::string local = LocalJoin(localFolder, e.path);
            if (e.isDirectory) {
                if (!MakeFolders(local, &error)) {
                    Complain(&progress, device.prefix, error);
                    status = WorseStatus(status, kExitLocal);
                }
                continue;
            }
            std::string digest;
            const int fileStatus = CopyFile(device, RemoteJoin(remoteFolder, e.path), local, progress, &digest);
            status = WorseStatus(status, fileStatus);
            if (fileStatus == kExitInterrupted) break;
            if (fileStatus == kExitOk) copied.push_back({digest, e.path});
        }
    }
    if (status == kExitInterrupted) {
        Complain(nullptr, device.prefix, "backup stopped: no manifest written, the files copied so far are whole");
        return status;
    }
    if (!WriteManifest(localFolder, copied, &error)) {
        Complain(nullptr, device.prefix, error);
        return WorseStatus(status, kExitLocal);
    }
    return status;
}

}  // namespace

int Backup(const CliOptions &o) {
    const std::string &localFolder = o.arguments[0];
    const std::string remoteFolder = RemoteDirPath(o.arguments.size() > 1 ? o.arguments[1] : "");
    const bool several = o.ids.size() > 1;
    StopScope stoppable;
    int status = kExitOk;
    for (const uint8_t id : o.ids) {
        const Device device{id, several ? "device " + std::to_string(id) + ": " : "", &o};
        const std::string folder = several ? LocalJoin(localFolder, std::to_string(id)) : localFolder;
        status = WorseStatus(status, BackupDevice(device, remoteFolder, folder));
        if (status == kExitInterrupted) break;
    }
    return status;
}

}  // namespace dncctl
