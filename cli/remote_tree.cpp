#include "cli/remote_tree.h"

#include <algorithm>
#include <deque>
#include <map>

#include "nccmd/result_texts.h"

namespace dncctl {

bool IsProtectedRemoteName(const std::string &name) {
    std::string upper = name;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return upper == "QVTROM.BIN";
}

NameCheck CheckRemoteName(const std::string &name) {
    if (name == "." || name == "..") return NameCheck::kSkip;
    if (name.empty() || name[0] == '.') return NameCheck::kRefuse;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F) return NameCheck::kRefuse;
    }
    return NameCheck::kUse;
}

std::string EntryName(const nccmd::ListingEntry &entry) {
    if (entry.IsDirectory() || entry.extension.empty()) return entry.name;
    return entry.name + "." + entry.extension;
}

std::string RemoteJoin(const std::string &folder, const std::string &relative, bool asFolder) {
    std::string path = folder;
    if (path.empty() || path.back() != '\\') path += '\\';
    for (const char c : relative) path += c == '/' ? '\\' : c;
    if (asFolder && !relative.empty()) path += '\\';
    return path;
}

std::string PrintableName(const std::string &text) {
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            static const char kHex[] = "0123456789abcdef";
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 0xF];
        } else {
            shown += c;
        }
    }
    return shown;
}

namespace {
std::string Printable(const std::string &text) { return PrintableName(text); }
}  // namespace

RemoteWalk WalkRemoteTree(const RemoteLister &list, const std::string &folder, const std::function<bool()> &stop) {
    RemoteWalk walk;
    struct Pending {
        std::string relative;
        int depth;
    };
    std::deque<Pending> folders{{"", 0}};
    size_t listed = 0;
    bool tooLarge = false;
    std::vector<nccmd::ListingEntry> entries;
    while (!folders.empty()) {
        if (stop && stop()) {
            walk.interrupted = true;
            break;
        }
        const Pending current = folders.front();
        folders.pop_front();
        const std::string remote = RemoteJoin(folder, current.relative, true);
        if (current.depth > kMaxTreeDepth) {
            walk.tree.problems.push_back(Printable(remote) + ": not listed, deeper than " +
                                         std::to_string(kMaxTreeDepth) + " levels (does a folder list itself?)");
            continue;
        }
        ++listed;
        if (const uint8_t code = list(remote, &entries); code != 0) {
            if (current.relative.empty()) {
                walk.code = code;
                return walk;
            }
            walk.tree.problems.push_back(Printable(remote) + ": cannot list: " + nccmd::ResultCodeText(code));
            continue;
        }
        // A name listed twice is taken once; as a file and a folder, only
        // the first can exist on this side.
        std::map<std::string, bool> seen;
        for (const nccmd::ListingEntry &e : entries) {
            const std::string name = EntryName(e);
            const NameCheck check = CheckRemoteName(name);
            if (check == NameCheck::kSkip) continue;
            if (check == NameCheck::kRefuse) {
                walk.tree.problems.push_back(Printable(remote) + ": refused the name '" + Printable(name) +
                                             "' (it cannot be a file inside the local folder)");
                continue;
            }
            const auto [at, fresh] = seen.emplace(name, e.IsDirectory());
            if (!fresh) {
                if (at->second != e.IsDirectory()) {
                    walk.tree.problems.push_back(Printable(remote + name) + ": listed as both a file and a folder");
                }
                continue;
            }
            if (walk.tree.entries.size() >= kMaxTreeEntries) {
                walk.tree.problems.push_back(Printable(folder) + ": more than " + std::to_string(kMaxTreeEntries) +
                                             " files and folders; the rest were not listed");
                walk.cutShort = true;
                folders.clear();
                break;
            }
            TreeEntry entry;
            entry.path = current.relative.empty() ? name : current.relative + "/" + name;
            entry.isDirectory = e.IsDirectory();
            entry.size = e.IsDirectory() ? 0 : e.size;
            if (entry.isDirectory) {
                // Counted when found, not when listed, so a listing that
                // repeats folders cannot fill memory with a queue first.
                if (listed + folders.size() >= kMaxTreeFolders) {
                    tooLarge = true;
                    continue;
                }
                folders.push_back({entry.path, current.depth + 1});
            }
            walk.tree.entries.push_back(std::move(entry));
        }
    }
    if (tooLarge) {
        walk.cutShort = true;
        walk.tree.problems.push_back(Printable(folder) + ": more than " + std::to_string(kMaxTreeFolders) +
                                     " folders; the rest were not listed");
    }
    std::sort(walk.tree.entries.begin(), walk.tree.entries.end());
    return walk;
}

}  // namespace dncctl
