// MANIFEST.sha256: one line per file of a backup, "<64 hex digits>  <path>",
// the path relative to the backup folder with '/' between names, as
// `sha256sum -c` reads it from inside that folder.
#pragma once

#include <string>
#include <vector>

namespace dncctl {

struct ManifestEntry {
    std::string sha256;  // 64 lower-case hex digits
    std::string path;    // relative, '/' between names
};

// The manifest's text for `entries`, sorted by path.
std::string ManifestText(std::vector<ManifestEntry> entries);

// Writes `folder`/MANIFEST.sha256 whole or not at all.
bool WriteManifest(const std::string &folder, const std::vector<ManifestEntry> &entries, std::string *error);

struct ParsedManifest {
    std::vector<ManifestEntry> entries;
    std::vector<std::string> problems;  // lines that are not entries, paths that leave the folder
};

// Reads a manifest's text. A path must stay inside the backup folder: no
// leading '/', no "." or ".." and no name a backup would refuse.
ParsedManifest ParseManifest(const std::string &text);

struct BackupCheck {
    bool present = false;                // the folder holds a manifest
    std::vector<ManifestEntry> entries;  // what it lists, when present
    std::vector<std::string> problems;   // damage: files missing or changed, bad lines
};

// Checks every file the manifest of `folder` lists against its digest.
BackupCheck CheckBackup(const std::string &folder);

}  // namespace dncctl
