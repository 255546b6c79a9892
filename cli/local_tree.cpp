#include "cli/local_tree.h"

#include <algorithm>
#include <vector>

namespace dncctl {

std::string LocalJoin(const std::string &folder, const std::string &relative) {
    if (relative.empty()) return folder;
    if (!folder.empty() && folder.back() == '/') return folder + relative;
    return folder + "/" + relative;
}

namespace {

// One folder on the way down: held open while its entries are looked at.
struct Level {
    platform::Folder folder;
    std::string relative;  // "" at the top
    std::vector<platform::FolderEntry> entries;
    size_t next = 0;
};

}  // namespace

LocalWalk WalkLocalTree(const LocalFolder &top) {
    LocalWalk walk;
    const std::string &folder = top.Path();
    std::vector<Level> levels(1);
    const int opened = top.Handle().Duplicate(&levels[0].folder);
    const int listed = opened != 0 ? opened : levels[0].folder.List(&levels[0].entries);
    if (listed != 0) {
        walk.error = "cannot read " + folder + ": " + platform::ErrorText(listed);
        return walk;
    }
    while (!levels.empty()) {
        Level &level = levels.back();
        if (level.next == level.entries.size()) {
            levels.pop_back();
            continue;
        }
        const platform::FolderEntry &e = level.entries[level.next++];
        const std::string relative = level.relative.empty() ? e.name : level.relative + "/" + e.name;
        const bool isFolder = e.info.kind == platform::FileKind::kFolder;
        if (e.name[0] == '.' || (levels.size() == 1 && e.name == kManifestName)) continue;
        if (walk.tree.entries.size() >= kMaxTreeEntries) {
            walk.tree.problems.push_back(folder + ": more than " + std::to_string(kMaxTreeEntries) +
                                         " files and folders; the rest were not looked at");
            break;
        }
        if (e.name.find('\\') != std::string::npos) {
            walk.tree.problems.push_back(LocalJoin(folder, relative) + ": a name holding '\\' cannot go to the controller");
            continue;
        }
        // Its own type, never a link's target: nothing here reads through one.
        if (e.info.kind == platform::FileKind::kLink) {
            walk.tree.problems.push_back(LocalJoin(folder, relative) + ": a link, not followed");
        } else if (e.info.kind == platform::FileKind::kFile) {
            walk.tree.entries.push_back({relative, false, e.info.size});
        } else if (!isFolder) {
            walk.tree.problems.push_back(LocalJoin(folder, relative) + ": neither a file nor a folder, left out");
        } else {
            walk.tree.entries.push_back({relative, true, 0});
            Level below;
            below.relative = relative;
            int failed = level.folder.OpenFolder(e.name, &below.folder);
            if (failed == 0) failed = below.folder.List(&below.entries);
            if (failed != 0) {
                walk.tree.problems.push_back("cannot read below " + folder + ": " + LocalJoin(folder, relative) + ": " +
                                             platform::ErrorText(failed));
                break;
            }
            levels.push_back(std::move(below));
        }
    }
    std::sort(walk.tree.entries.begin(), walk.tree.entries.end());
    return walk;
}

}  // namespace dncctl
