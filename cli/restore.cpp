// dncctl restore: a backup folder written back to the controller, creating
// the folders it lacks. It never deletes anything there and never writes
// the boot image. A backup whose files disagree with its manifest is
// refused before anything is sent.
#include <sys/stat.h>

#include <cstdio>
#include <map>
#include <set>

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

struct Plan {
    std::vector<std::string> folders;  // remote folders the files need, parents first, ending in '\'
    std::vector<TreeEntry> files;
    std::map<std::string, std::string> digests;  // by relative path, when there is a manifest
};

std::string ParentOf(const std::string &relative) {
    const size_t slash = relative.rfind('/');
    return slash == std::string::npos ? "" : relative.substr(0, slash);
}

// The remote folders from the root down to `folder` ("\A\B\" -> "\A\",
// "\A\B\"), the root itself left out.
std::vector<std::string> FolderChain(const std::string &folder) {
    std::vector<std::string> chain;
    for (size_t at = folder.find('\\', 1); at != std::string::npos; at = folder.find('\\', at + 1)) {
        chain.push_back(folder.substr(0, at + 1));
    }
    return chain;
}

// Creates the remote folders the plan needs that the controller lacks,
// looking first in each parent's listing. Returns the folders that could not
// be made (their files are then not sent).
class RemoteFolders {
public:
    RemoteFolders(uint8_t id, bool dryRun, const std::string &device) : id_(id), dryRun_(dryRun), device_(device) {}

    // True when `folder` exists (or, in a dry run, would be created).
    bool Ensure(const std::string &folder, int *status) {
        if (folder == "\\" || ready_.count(folder) != 0) return true;
        if (failed_.count(folder) != 0) return false;
        const size_t cut = folder.rfind('\\', folder.size() - 2);
        const std::string parent = folder.substr(0, cut + 1);
        const std::string name = folder.substr(cut + 1, folder.size() - cut - 2);
        if (!Ensure(parent, status)) return Failed(folder);
        bool present = false;
        if (created_.count(parent) == 0) {
            // A folder created in this run is known to be empty: no listing.
            auto listing = listings_.find(parent);
            if (listing == listings_.end()) {
                std::vector<nccmd::ListingEntry> entries;
                if (const uint8_t code = nccmd::ListRemoteDirectory(id_, parent, &entries); code != 0) {
                    Complain(nullptr, device_, parent + ": cannot list: " + nccmd::ResultCodeText(code));
                    *status = WorseStatus(*status, kExitController);
                    return Failed(folder);
                }
                listing = listings_.emplace(parent, std::move(entries)).first;
            }
            for (const nccmd::ListingEntry &e : listing->second) {
                if (EntryName(e) != name) continue;
                if (!e.IsDirectory()) {
                    Complain(nullptr, device_, folder + ": the controller holds a file of that name");
                    *status = WorseStatus(*status, kExitController);
                    return Failed(folder);
                }
                present = true;
            }
        }
        if (!present) {
            const std::string without = folder.substr(0, folder.size() - 1);
            if (dryRun_) {
                std::printf("would create %s\n", folder.c_str());
            } else if (const uint8_t code = nccmd::NcCreateDir(id_, (std::string(nccmd::kCreateDirWord) + without).c_str());
                       code != 0) {
                Complain(nullptr, device_, folder + ": cannot create: " + nccmd::ResultCodeText(code));
                *status = WorseStatus(*status, kExitController);
                return Failed(folder);
            }
            created_.insert(folder);
        }
        ready_.insert(folder);
        return true;
    }

private:
    bool Failed(const std::string &folder) {
        failed_.insert(folder);
        return false;
    }

    uint8_t id_;
    bool dryRun_;
    std::string device_;
    std::map<std::string, std::vector<nccmd::ListingEntry>> listings_;
    std::set<std::string> ready_;
    std::set<std::string> created_;
    std::set<std::string> failed_;
};

// Reads the file back and compares it with what was sent.
int VerifyFile(uint8_t id, const std::string &remote, const std::vector<uint8_t> &bytes, std::string *detail) {
    uint64_t offset = 0;
    bool same = true;
    const nccmd::TransferResult result = nccmd::ReadRemoteFile(
        id, remote.c_str(),
        [&](const uint8_t *data, size_t n) {
            same = offset + n <= bytes.size() && std::equal(data, data + n, bytes.begin() + long(offset));
            offset += n;
            return same;  // the first difference ends the read
        },
        {}, [] { return StopRequested(); });
    if (!same) {
        *detail = "verify failed: the controller's copy differs";
        return kExitVerify;
    }
    if (result.code != 0) {
        *detail = "verify: " + nccmd::ResultCodeText(result.code);
        return kExitController;
    }
    if (result.aborted) {
        *detail = "stopped while verifying";
        return kExitInterrupted;
    }
    if (offset != bytes.size()) {
        *detail = "verify failed: the controller's copy has " + std::to_string(offset) + " bytes, not " +
                  std::to_string(bytes.size());
        return kExitVerify;
    }
    return kExitOk;
}

int SendFile(const CliOptions &o, const Plan &plan, const TreeEntry &file, const std::string &localFolder,
             const std::string &remote, TreeProgress &progress) {
    const std::string local = LocalJoin(localFolder, file.path);
    std::vector<uint8_t> bytes;
    std::string detail;
    int status = kExitOk;
    nccmd::TransferResult result;
    progress.StartFile();
    if (!ReadWholeFile(local, &bytes, &detail)) {
        status = kExitLocal;
    } else if (const auto digest = plan.digests.find(file.path);
               digest != plan.digests.end() && [&] {
                   journal::Sha256 hash;
                   hash.Update(bytes.data(), bytes.size());
                   return hash.HexDigest() != digest->second;
               }()) {
        // The bytes about to go are the bytes checked: a file changed since
        // the check is not sent.
        status = kExitLocal;
        detail = "changed since the manifest was checked";
    } else {
        size_t at = 0;
        result = nccmd::WriteRemoteFile(
            o.id, remote.c_str(), int32_t(bytes.size()),
            [&](uint8_t *buffer, size_t n) {
                std::copy_n(bytes.begin() + long(at), n, buffer);
                at += n;
                return true;
            },
            [&](uint64_t done, uint64_t) { progress.Update(done); }, [] { return StopRequested(); });
        if (result.code != 0) {
            status = kExitController;
            detail = nccmd::ResultCodeText(result.code);
        } else if (result.aborted) {
            status = kExitInterrupted;
            detail = "stopped; the controller was sent the abort block";
        } else if (o.verify) {
            status = VerifyFile(o.id, remote, bytes, &detail);
        }
    }
    if (status != kExitOk) Complain(&progress, "", remote + ": " + (status == kExitVerify ? "" : "not restored: ") + detail);
    progress.FileDone(result.bytesDone);
    OnFileDone(o, {"restore", o.id, remote, local, result.bytesDone, status, detail,
                   status == kExitOk ? journal::Sha256Hex(bytes.data(), bytes.size()) : std::string()});
    return status;
}

}  // namespace

int Restore(const CliOptions &o) {
    const std::string &localFolder = o.arguments[0];
    const std::string remoteFolder = RemoteDirPath(o.arguments.size() > 1 ? o.arguments[1] : "");
    struct stat st {};
    if (stat(localFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        Complain(nullptr, "", localFolder + " is not a folder");
        return kExitLocal;
    }
    int status = kExitOk;
    Plan plan;
    const BackupCheck check = CheckBackup(localFolder);
    if (!check.problems.empty()) {
        for (const std::string &problem : check.problems) Complain(nullptr, "", "damaged backup: " + problem);
        Complain(nullptr, "", "restore refused: " + localFolder + " does not match its " + kManifestName +
                                  "; nothing was sent");
        return kExitLocal;
    }
    // Folders come from the local tree, empty ones included (a manifest
    // lists only files); the files from the manifest when there is one.
    const LocalWalk walk = WalkLocalTree(localFolder);
    if (!walk.error.empty()) {
        Complain(nullptr, "", walk.error);
        return kExitLocal;
    }
    for (const std::string &problem : walk.tree.problems) {
        Complain(nullptr, "", problem);
        status = kExitLocal;
    }
    std::set<std::string> folders;
    for (const TreeEntry &e : walk.tree.entries) {
        if (e.isDirectory) folders.insert(e.path);
        else if (!check.present) plan.files.push_back(e);
    }
    if (check.present) {
        // The manifest says what the backup is: files beside it that it
        // does not list (left from an earlier run, added later) are not sent.
        std::set<std::string> listed;
        for (const ManifestEntry &e : check.entries) {
            struct stat fileStat {};
            stat(LocalJoin(localFolder, e.path).c_str(), &fileStat);
            plan.files.push_back({e.path, false, uint64_t(fileStat.st_size)});
            plan.digests[e.path] = e.sha256;
            listed.insert(e.path);
            for (std::string parent = ParentOf(e.path); !parent.empty(); parent = ParentOf(parent)) folders.insert(parent);
        }
        for (const TreeEntry &e : walk.tree.entries) {
            if (!e.isDirectory && listed.count(e.path) == 0) {
                Complain(nullptr, "", LocalJoin(localFolder, e.path) + ": not in " + kManifestName + ", not sent");
            }
        }
    }
    for (const std::string &f : FolderChain(remoteFolder)) plan.folders.push_back(f);
    for (const std::string &f : folders) plan.folders.push_back(RemoteJoin(remoteFolder, f, true));

    StopScope stoppable;
    RemoteFolders remoteFolders(o.id, o.dryRun, "");
    for (const std::string &folder : plan.folders) {
        if (StopRequested()) return kExitInterrupted;
        remoteFolders.Ensure(folder, &status);
    }
    size_t count = 0;
    uint64_t bytes = 0;
    for (const TreeEntry &f : plan.files) {
        ++count;
        bytes += f.size;
    }
    TreeProgress progress(o.dryRun ? "dry run" : "restore", count, bytes);
    for (const TreeEntry &file : plan.files) {
        const std::string remote = RemoteJoin(remoteFolder, file.path);
        const std::string name = file.path.substr(file.path.rfind('/') + 1);
        if (IsProtectedRemoteName(name)) {
            Complain(&progress, "", remote + ": left out, restore never writes the boot image");
            progress.FileDone(0);
            continue;
        }
        if (!remoteFolders.Ensure(RemoteJoin(remoteFolder, ParentOf(file.path), true), &status)) {
            Complain(&progress, "", remote + ": not restored, its folder is missing");
            status = WorseStatus(status, kExitController);
            progress.FileDone(0);
            continue;
        }
        if (o.dryRun) {
            std::printf("would send %s to %s (%llu bytes)\n", LocalJoin(localFolder, file.path).c_str(),
                        remote.c_str(), static_cast<unsigned long long>(file.size));
            continue;
        }
        const int fileStatus = SendFile(o, plan, file, localFolder, remote, progress);
        status = WorseStatus(status, fileStatus);
        if (fileStatus == kExitInterrupted) break;
    }
    if (o.dryRun && std::fflush(stdout) != 0) status = WorseStatus(status, kExitLocal);
    return status;
}

}  // namespace dncctl
