// A local folder tree for restore and diff. Hidden names (starting with
// '.') are left out, as is the manifest at the top: neither is ever a
// program of the controller, and dncctl's own temporary files are hidden.
#pragma once

#include <string>

#include "cli/file_tree.h"
#include "cli/local_folder.h"

namespace dncctl {

struct LocalWalk {
    FileTree tree;
    std::string error;  // the folder itself cannot be read
};

// Regular files and folders below `folder`, each folder opened inside its
// parent without following links. Links (to files or folders: none is
// followed), FIFOs, devices, a name holding '\' (the controller's
// separator), anything that cannot be read and whatever lies beyond
// kMaxTreeEntries are named in tree.problems and left out.
LocalWalk WalkLocalTree(const LocalFolder &folder);

// `folder` + "/" + a relative tree path.
std::string LocalJoin(const std::string &folder, const std::string &relative);

}  // namespace dncctl
