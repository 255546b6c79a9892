#include "cli/local_tree.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace dncctl {

namespace fs = std::filesystem;

std::string LocalJoin(const std::string &folder, const std::string &relative) {
    if (relative.empty()) return folder;
    if (!folder.empty() && folder.back() == '/') return folder + relative;
    return folder + "/" + relative;
}

LocalWalk WalkLocalTree(const std::string &folder) {
    LocalWalk walk;
    std::error_code error;
    fs::recursive_directory_iterator it(folder, error);
    if (error) {
        walk.error = "cannot read " + folder + ": " + error.message();
        return walk;
    }
    for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (error) {
            walk.tree.problems.push_back("cannot read below " + folder + ": " + error.message());
            break;
        }
        const fs::path &path = it->path();
        const std::string name = path.filename().string();
        const std::string relative = path.lexically_relative(folder).generic_string();
        // Its own type, never a link's target: the iterator does not
        // descend into linked folders, and nothing here reads through one.
        const fs::file_status status = it->symlink_status(error);
        const bool isFolder = !error && fs::is_directory(status);
        if (name[0] == '.' || (it.depth() == 0 && name == kManifestName)) {
            if (isFolder) it.disable_recursion_pending();
            continue;
        }
        if (walk.tree.entries.size() >= kMaxTreeEntries) {
            walk.tree.problems.push_back(folder + ": more than " + std::to_string(kMaxTreeEntries) +
                                         " files and folders; the rest were not looked at");
            break;
        }
        if (name.find('\\') != std::string::npos) {
            walk.tree.problems.push_back(LocalJoin(folder, relative) + ": a name holding '\\' cannot go to the controller");
            if (isFolder) it.disable_recursion_pending();
            continue;
        }
        if (error) {
            walk.tree.problems.push_back(LocalJoin(folder, relative) + ": " + error.message());
            continue;
        }
        if (fs::is_symlink(status)) {
            walk.tree.problems.push_back(LocalJoin(folder, relative) + ": a link, not followed");
        } else if (isFolder) {
            walk.tree.entries.push_back({relative, true, 0});
        } else if (fs::is_regular_file(status)) {
            const uintmax_t size = it->file_size(error);
            if (error) {
                walk.tree.problems.push_back(LocalJoin(folder, relative) + ": " + error.message());
                continue;
            }
            walk.tree.entries.push_back({relative, false, uint64_t(size)});
        } else {
            walk.tree.problems.push_back(LocalJoin(folder, relative) + ": neither a file nor a folder, left out");
        }
    }
    std::sort(walk.tree.entries.begin(), walk.tree.entries.end());
    return walk;
}

}  // namespace dncctl
