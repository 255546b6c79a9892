// dncctl restore: a backup folder written back to the controller, creating
// the folders it lacks. It never deletes anything there and writes the
// boot image only when told to (--force). Everything it will send is
// decided before anything is sent: a backup whose files disagree with its
// manifest, or that holds links or special files, is refused whole. A backup
// may come from someone else, so nothing below its folder is followed.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/local_files.h"
#include "cli/local_tree.h"
#include "cli/manifest.h"
#include "cli/remote_path.h"
#include "nccmd/result_texts.h"
#include "journal/data_tally.h"
#include "journal/sha256.h"
#include "nccmd/compare_remote.h"
#include "nccmd/transfers.h"
#include "cli/tree_commands.h"
#include "cli/tree_support.h"

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

// Reads the file back and compares it with the local file, read again from
// its start. The bytes read again must be the bytes sent (their digest):
// a file changed since is named as such, not taken for the controller's
// fault.
int VerifyFile(uint8_t id, const std::string &remote, platform::File &file, const std::string &sentDigest,
               uint64_t size, std::string *detail) {
    journal::DataTally readAgain;
    int readError = file.Rewind();
    const nccmd::Comparison comparison = nccmd::CompareRemoteFile(
        id, remote.c_str(), size,
        [&](uint8_t *buffer, size_t n) -> int64_t {
            const int64_t got = readError != 0 ? -1 : ReadFully(file, buffer, n, &readError);
            if (got > 0) readAgain.Add(buffer, size_t(got));
            return got;
        },
        true, {}, [] { return StopRequested(); });
    const nccmd::TransferResult &result = comparison.read;
    if (result.localFailure) {
        *detail = "verify: cannot read the local file again: " + platform::ErrorText(readError);
        return kExitLocal;
    }
    if (comparison.firstDifference == nccmd::kNoDifference && result.code != 0) {
        *detail = "verify: " + nccmd::ResultCodeText(result.code);
        return kExitController;
    }
    if (comparison.firstDifference == nccmd::kNoDifference && result.aborted) {
        *detail = "stopped while verifying";
        return kExitInterrupted;
    }
    if (comparison.remoteSize != size) {
        *detail = "verify failed: the controller's copy has " + std::to_string(comparison.remoteSize) +
                  " bytes, not " + std::to_string(size);
        return kExitVerify;
    }
    if (comparison.firstDifference != nccmd::kNoDifference) {
        // Read up to the difference only: the rest of the local file decides
        // whether it is still the file that was sent.
        uint8_t rest[nccmd::kBlockSize];
        for (int64_t got; (got = ReadFully(file, rest, sizeof rest)) > 0;) readAgain.Add(rest, size_t(got));
        const bool unchanged = readAgain.HexDigest() == sentDigest;
        *detail = unchanged ? "verify failed: the controller's copy differs"
                            : "not verified: the local file changed after it was sent";
        return unchanged ? kExitVerify : kExitLocal;
    }
    if (readAgain.HexDigest() != sentDigest) {
        *detail = "not verified: the local file changed after it was sent";
        return kExitLocal;
    }
    return kExitOk;
}

// Sends one file, read in blocks as it goes (memory stays small however
// large the file). The bytes sent are the bytes hashed: with a manifest the
// last block goes only when the whole file still has the manifest's digest,
// and a file that grows or shrinks while it is sent is never sent whole;
// in both cases the controller gets the abort block instead and drops it.
int SendFile(const CliOptions &o, bool verify, const Plan &plan, const TreeEntry &file, const LocalFolder &folder,
             const std::string &remote, TreeProgress &progress) {
    const std::string local = folder.Shown(file.path);
    RegularFile input;
    std::string detail;
    std::string sentDigest;
    int status = kExitOk;
    nccmd::TransferResult result;
    progress.StartFile();
    const auto listed = plan.digests.find(file.path);
    const std::string *expected = listed == plan.digests.end() ? nullptr : &listed->second;
    if (!folder.OpenFile(file.path, &input, &detail)) {
        status = kExitLocal;
    } else if (input.size > uint64_t(INT32_MAX)) {
        status = kExitLocal;
        detail = local + " is too large for the controller (2 GiB at most)";
    } else if (input.size == 0 && expected != nullptr && journal::Sha256Hex("", 0) != *expected) {
        status = kExitLocal;
        detail = "changed since the manifest was checked";
    } else {
        const uint64_t size = input.size;
        journal::DataTally sent;
        if (size == 0) sentDigest = journal::Sha256Hex("", 0);
        std::string changed;
        result = nccmd::WriteRemoteFile(
            o.id, remote.c_str(), int32_t(size),
            [&](uint8_t *buffer, size_t n) {
                int failed = 0;
                const int64_t got = ReadFully(input.file, buffer, n, &failed);
                if (got != int64_t(n)) {
                    changed = got < 0 ? "cannot read " + local + ": " + platform::ErrorText(failed)
                                      : "changed while it was sent (it became shorter)";
                    return false;
                }
                sent.Add(buffer, n);
                if (sent.Bytes() < size) return true;
                uint8_t more = 0;
                if (ReadFully(input.file, &more, 1) != 0) {
                    changed = "changed while it was sent (it grew)";
                    return false;
                }
                sentDigest = sent.HexDigest();
                if (expected != nullptr && sentDigest != *expected) {
                    changed = "changed since the manifest was checked; its last block was not sent";
                    return false;
                }
                return true;
            },
            [&](uint64_t done, uint64_t) { progress.Update(done); }, [] { return StopRequested(); });
        if (result.localFailure) {
            status = kExitLocal;
            detail = changed;
            if (result.code != 0) detail += "; the abort block: " + nccmd::ResultCodeText(result.code);
        } else if (result.code != 0) {
            status = kExitController;
            detail = nccmd::ResultCodeText(result.code);
        } else if (result.aborted) {
            status = kExitInterrupted;
            detail = "stopped; the controller was sent the abort block";
        } else if (verify) {
            status = VerifyFile(o.id, remote, input.file, sentDigest, size, &detail);
        }
    }
    if (status != kExitOk) Complain(&progress, "", remote + ": " + (status == kExitVerify ? "" : "not restored: ") + detail);
    progress.FileDone(result.bytesDone);
    OnFileDone(o, {"restore", o.id, remote, local, result.bytesDone, status, detail,
                   status == kExitOk ? sentDigest : std::string()});
    return status;
}

// Refuses the whole restore: nothing has been sent.
int Refuse(const std::vector<std::string> &problems, const std::string &why) {
    for (const std::string &problem : problems) Complain(nullptr, "", problem);
    Complain(nullptr, "", "restore refused: " + why + "; nothing was sent");
    return kExitLocal;
}

}  // namespace

int Restore(const CliOptions &o) {
    const std::string &localFolder = o.arguments[0];
    const std::string remoteFolder = RemoteDirPath(o.arguments.size() > 1 ? o.arguments[1] : "");
    const bool verify = o.verify.value_or(o.link == LinkChoice::kSerial);
    LocalFolder folder;
    std::string error;
    if (!LocalFolder::Open(localFolder, &folder, &error)) {
        Complain(nullptr, "", error);
        return kExitLocal;
    }
    // Everything below decides what will be sent before anything is.
    StopScope stoppable;
    int status = kExitOk;
    Plan plan;
    const BackupCheck check = CheckBackup(folder, [] { return StopRequested(); });
    if (check.interrupted) {
        Complain(nullptr, "", "stopped while checking the backup; nothing was sent");
        return kExitInterrupted;
    }
    if (!check.problems.empty()) {
        std::vector<std::string> problems;
        for (const std::string &problem : check.problems) problems.push_back("damaged backup: " + problem);
        return Refuse(problems, localFolder + " does not match its " + kManifestName);
    }
    // Folders come from the local tree, empty ones included (a manifest
    // lists only files); the files from the manifest when there is one.
    const LocalWalk walk = WalkLocalTree(folder);
    if (!walk.error.empty()) {
        Complain(nullptr, "", walk.error);
        return kExitLocal;
    }
    if (!walk.tree.problems.empty()) {
        return Refuse(walk.tree.problems, localFolder + " holds links or other entries that are not files or folders");
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
            plan.files.push_back({e.path, false, 0});
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
    // Each file once more, name by name, as it will be opened to be sent.
    std::vector<std::string> unusable;
    for (TreeEntry &file : plan.files) {
        RegularFile input;
        if (!folder.OpenFile(file.path, &input, &error)) unusable.push_back(error);
        else if (input.size > uint64_t(INT32_MAX)) unusable.push_back(folder.Shown(file.path) + " is too large for the controller (2 GiB at most)");
        file.size = input.size;
    }
    if (!unusable.empty()) return Refuse(unusable, "some files cannot be sent");
    for (const std::string &f : FolderChain(remoteFolder)) plan.folders.push_back(f);
    for (const std::string &f : folders) plan.folders.push_back(RemoteJoin(remoteFolder, f, true));

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
        if (IsProtectedRemoteName(name) && !o.force) {
            Complain(&progress, "", remote + ": left out: the controller's system file (--force writes it)");
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
        const int fileStatus = SendFile(o, verify, plan, file, folder, remote, progress);
        status = WorseStatus(status, fileStatus);
        if (fileStatus == kExitInterrupted) break;
    }
    if (o.dryRun && std::fflush(stdout) != 0) status = WorseStatus(status, kExitLocal);
    return status;
}

}  // namespace dncctl
