// MANIFEST.sha256: one line per file of a backup, "<64 hex digits>  <path>",
// the path relative to the backup folder with '/' between names, as
// `sha256sum -c` reads it from inside that folder.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/local_folder.h"

namespace dncctl {

struct ManifestEntry {
    std::string sha256;  // 64 lower-case hex digits
    std::string path;    // relative, '/' between names
};

// The manifest's text for `entries`, sorted by path.
std::string ManifestText(std::vector<ManifestEntry> entries);

// Writes `folder`/MANIFEST.sha256 whole or not at all.
bool WriteManifest(const LocalFolder &folder, const std::vector<ManifestEntry> &entries, std::string *error);

// A manifest longer than this is not one dncctl wrote (it lists at most
// kMaxTreeEntries files of short names) and is not read.
inline constexpr size_t kMaxManifestBytes = 16 * 1024 * 1024;

struct ParsedManifest {
    std::vector<ManifestEntry> entries;
    std::vector<std::string> problems;  // lines that are not entries, paths that leave the folder
};

// Reads a manifest's text. A path must stay inside the backup folder: no
// leading '/', no "." or ".." and no name a backup would refuse.
ParsedManifest ParseManifest(const std::string &text);

struct BackupCheck {
    bool present = false;                // the folder holds a manifest
    bool interrupted = false;            // `stop` said so
    std::vector<ManifestEntry> entries;  // what it lists, when present
    std::vector<std::string> problems;   // damage: files missing or changed, bad lines
};

// Checks every file the manifest of `folder` lists against its digest,
// reaching each one name by name without following links; a link or
// anything but a regular file is a problem. `stop` is asked while hashing.
BackupCheck CheckBackup(const LocalFolder &folder, const std::function<bool()> &stop = {});

}  // namespace dncctl
