#include "cli/manifest.h"

#include <algorithm>
#include <sstream>

#include "cli/file_tree.h"
#include "cli/local_files.h"
#include "cli/local_tree.h"
#include "cli/remote_tree.h"
#include "cli/file_digest.h"

namespace dncctl {

std::string ManifestText(std::vector<ManifestEntry> entries) {
    std::sort(entries.begin(), entries.end(),
              [](const ManifestEntry &a, const ManifestEntry &b) { return a.path < b.path; });
    std::string text;
    for (const ManifestEntry &e : entries) text += e.sha256 + "  " + e.path + "\n";
    return text;
}

bool WriteManifest(const LocalFolder &folder, const std::vector<ManifestEntry> &entries, std::string *error) {
    const std::string text = ManifestText(entries);
    WholeFileWriter out(folder, kManifestName);
    if (!out.Open() || !out.Write(reinterpret_cast<const uint8_t *>(text.data()), text.size()) || !out.Commit()) {
        *error = out.Error();
        return false;
    }
    return true;
}

namespace {

bool IsDigest(const std::string &text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
           });
}

bool StaysInside(const std::string &path) {
    size_t start = 0;
    for (;;) {
        const size_t slash = path.find('/', start);
        const std::string name = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (CheckRemoteName(name) != NameCheck::kUse) return false;
        if (slash == std::string::npos) return true;
        start = slash + 1;
    }
}

}  // namespace

ParsedManifest ParseManifest(const std::string &text) {
    ParsedManifest parsed;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (line.empty()) continue;
        // sha256sum writes "  " (text mode) or " *" (binary mode).
        const std::string where = std::string(kManifestName) + " line " + std::to_string(number);
        if (line.size() < 67 || !IsDigest(line.substr(0, 64)) || line[64] != ' ' || (line[65] != ' ' && line[65] != '*')) {
            parsed.problems.push_back(where + ": not a checksum line");
            continue;
        }
        ManifestEntry entry{line.substr(0, 64), line.substr(66)};
        std::transform(entry.sha256.begin(), entry.sha256.end(), entry.sha256.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        if (!StaysInside(entry.path)) {
            parsed.problems.push_back(where + ": '" + entry.path + "' is not a path inside the backup folder");
            continue;
        }
        parsed.entries.push_back(std::move(entry));
    }
    return parsed;
}

BackupCheck CheckBackup(const LocalFolder &folder, const std::function<bool()> &stop) {
    BackupCheck check;
    platform::FileInfo info;
    if (folder.Handle().Lookup(kManifestName, &info) == 0 && info.kind == platform::FileKind::kMissing) return check;
    check.present = true;
    RegularFile file;
    std::string error;
    if (!folder.OpenFile(kManifestName, &file, &error)) {
        check.problems.push_back(error);
        return check;
    }
    if (file.size > kMaxManifestBytes) {
        check.problems.push_back(folder.Shown(kManifestName) + " is larger than any manifest dncctl writes (" +
                                 std::to_string(kMaxManifestBytes) + " bytes), not read");
        return check;
    }
    std::string text(size_t(file.size), '\0');
    int failed = 0;
    const int64_t got = ReadFully(file.file, text.data(), text.size(), &failed);
    if (got < 0) {
        check.problems.push_back("cannot read " + folder.Shown(kManifestName) + ": " + platform::ErrorText(failed));
        return check;
    }
    text.resize(size_t(got));
    ParsedManifest parsed = ParseManifest(text);
    check.problems = std::move(parsed.problems);
    for (const ManifestEntry &e : parsed.entries) {
        RegularFile listed;
        if (!folder.OpenFile(e.path, &listed, &error)) {
            check.problems.push_back(e.path + ": " + error);
            continue;
        }
        const std::string digest = Sha256OfFile(listed.file, folder.Shown(e.path), stop, &error);
        if (stop && stop()) {
            check.interrupted = true;
            return check;
        }
        if (digest.empty()) check.problems.push_back(e.path + ": " + error);
        else if (digest != e.sha256) check.problems.push_back(e.path + ": its SHA-256 differs from the manifest's");
    }
    check.entries = std::move(parsed.entries);
    return check;
}

}  // namespace dncctl
