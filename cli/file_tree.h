// A folder tree as the tree commands (backup, restore, diff) see it, on
// either side: the files and folders below one starting folder, by their
// paths relative to it with '/' between names ("PRG/O0001.CNC").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dncctl {

struct TreeEntry {
    std::string path;  // relative, '/' between names, no leading or trailing '/'
    bool isDirectory = false;
    uint64_t size = 0;  // files only

    bool operator<(const TreeEntry &other) const { return path < other.path; }
};

struct FileTree {
    std::vector<TreeEntry> entries;    // sorted by path, parents before children
    std::vector<std::string> problems;  // one line each, for stderr: what was left out and why
};

// The backup's checksum list, at the top of a backup folder. It is never
// sent to a controller nor compared with one.
inline constexpr const char *kManifestName = "MANIFEST.sha256";

// The controller's boot image: restore leaves it out in any folder and in
// any case (a controller's file names may ignore case), unless --force.
bool IsProtectedRemoteName(const std::string &name);

// No shop controller or backup holds this many files and folders; a tree
// that lists more (a hostile controller, a folder that is not a backup) is
// cut off there with an error, so its walk never fills memory.
inline constexpr size_t kMaxTreeEntries = 65536;

}  // namespace dncctl
