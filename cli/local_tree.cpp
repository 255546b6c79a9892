#include "local_tree.h"

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
        if (name[0] == '.' || (it.depth() == 0 && name == kManifestName)) {
            if (it->is_directory(error)) it.disable_recursion_pending();
            continue;
        }
        if (name.find('\\') != std::string::npos) {
            walk.tree.problems.push_back(LocalJoin(folder, relative) + ": a name holding '\\' cannot go to the controller");
            if (it->is_directory(error)) it.disable_recursion_pending();
            continue;
        }
        const bool link = it->is_symlink(error);
        if (it->is_directory(error)) {
            if (link) {
                walk.tree.problems.push_back(LocalJoin(folder, relative) + ": a link to a folder, not followed");
                continue;
            }
            walk.tree.entries.push_back({relative, true, 0});
        } else if (it->is_regular_file(error)) {
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
