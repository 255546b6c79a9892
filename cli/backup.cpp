// dncctl backup: the controller's storage (or one folder of it) copied into
// a local folder, each file whole or not at all, then a manifest of the
// files copied. Below the folder the user named nothing is followed: every
// folder is opened or made relative to its parent, and a link met where a
// folder or a file goes is refused, so a link planted in the target can
// never send a file elsewhere.
#include <cerrno>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/local_files.h"
#include "cli/local_tree.h"
#include "cli/manifest.h"
#include "cli/remote_path.h"
#include "nccmd/result_texts.h"
#include "journal/data_tally.h"
#include "nccmd/transfers.h"
#include "cli/tree_commands.h"
#include "cli/tree_support.h"

namespace dncctl {

namespace {

struct Device {
    uint8_t id;
    std::string prefix;  // for messages
    const CliOptions *options;
};

// The folder the user named, made when missing (with its parents: the
// user's own path, so links on it are followed like any program would).
bool OpenTarget(const std::string &path, LocalFolder *folder, std::string *error) {
    if (const int failed = platform::MakeFolders(path); failed != 0) {
        *error = "cannot make the folder " + path + ": " + platform::ErrorText(failed);
        return false;
    }
    return LocalFolder::Open(path, folder, error);
}

// Copies one remote file into place below `folder`; returns the file's
// status and, on success, its digest.
int CopyFile(const Device &device, const std::string &remote, const LocalFolder &folder, const std::string &relative,
             TreeProgress &progress, std::string *digest) {
    const size_t slash = relative.rfind('/');
    const std::string name = slash == std::string::npos ? relative : relative.substr(slash + 1);
    LocalFolder parent;
    std::string folderError;
    const bool parentOk = folder.Descend(slash == std::string::npos ? "" : relative.substr(0, slash), true, &parent,
                                         &folderError);
    const std::string local = folder.Shown(relative);
    WholeFileWriter out(parentOk ? parent : folder, parentOk ? name : relative);
    journal::DataTally copied;
    nccmd::TransferResult result;
    bool opened = parentOk && out.Open();
    if (opened) {
        progress.StartFile();
        result = nccmd::ReadRemoteFile(
            device.id, remote.c_str(),
            [&](const uint8_t *data, size_t n) {
                copied.Add(data, n);
                return out.Write(data, n);
            },
            [&](uint64_t done, uint64_t) { progress.Update(done); }, [] { return StopRequested(); });
    }
    int status = kExitOk;
    std::string detail;
    if (!opened || result.localFailure) {
        status = kExitLocal;
        detail = parentOk ? out.Error() : folderError;
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
        *digest = copied.HexDigest();
    }
    if (status != kExitOk) Complain(&progress, device.prefix, remote + ": not copied: " + detail);
    progress.FileDone(result.bytesDone);
    OnFileDone(*device.options, {"backup", device.id, remote, local, result.bytesDone, status, detail,
                                 status == kExitOk ? *digest : std::string()});
    return status;
}

int BackupDevice(const Device &device, const std::string &remoteFolder, const LocalFolder &localFolder) {
    std::string error;
    RemoteWalk walk = WalkRemoteTree(ListerFor(device.id), remoteFolder, [] { return StopRequested(); });
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
    // The backup's own manifest takes that name at the top: a controller
    // file of the same name would be listed in it and spoil it.
    std::erase_if(walk.tree.entries, [&](const TreeEntry &e) {
        if (e.path != kManifestName) return false;
        Complain(nullptr, device.prefix, PrintableName(RemoteJoin(remoteFolder, e.path)) +
                                             ": not copied: the backup's own manifest has that name");
        status = kExitController;
        return true;
    });
    // A manifest from an earlier backup would describe files this run
    // replaces; it goes before the first of them, so a run cut short never
    // leaves a manifest that disagrees with the files. (A link of that name
    // goes too; what it pointed to is left alone.)
    if (const int failed = localFolder.Handle().Remove(kManifestName); failed != 0 && failed != ENOENT) {
        Complain(nullptr, device.prefix,
                 "cannot replace " + localFolder.Shown(kManifestName) + ": " + platform::ErrorText(failed));
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
            if (e.isDirectory) {
                LocalFolder made;
                if (!localFolder.Descend(e.path, true, &made, &error)) {
                    Complain(&progress, device.prefix, error);
                    status = WorseStatus(status, kExitLocal);
                }
                continue;
            }
            std::string digest;
            const int fileStatus = CopyFile(device, RemoteJoin(remoteFolder, e.path), localFolder, e.path, progress, &digest);
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
    LocalFolder top;
    std::string error;
    if (!OpenTarget(localFolder, &top, &error)) {
        Complain(nullptr, "", error);
        return kExitLocal;
    }
    int status = kExitOk;
    for (const uint8_t id : o.ids) {
        const Device device{id, several ? "device " + std::to_string(id) + ": " : "", &o};
        LocalFolder own;
        if (several && !top.Descend(std::to_string(id), true, &own, &error)) {
            Complain(nullptr, device.prefix, error);
            status = WorseStatus(status, kExitLocal);
            continue;
        }
        status = WorseStatus(status, BackupDevice(device, remoteFolder, several ? own : top));
        if (status == kExitInterrupted) break;
    }
    return status;
}

}  // namespace dncctl
