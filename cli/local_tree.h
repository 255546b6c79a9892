// A local folder tree for restore and diff. Hidden names (starting with
// '.') are left out, as is the manifest at the top: neither is ever a
// program of the controller, and dncctl's own temporary files are hidden.
#pragma once

#include <string>

#include "file_tree.h"

namespace dncctl {

struct LocalWalk {
    FileTree tree;
    std::string error;  // the folder itself cannot be read
};

// Files (links to files count as files) and folders below `folder`. A name
// holding '\' (the controller's separator), a link to a folder (not
// followed) and anything that cannot be read are named in tree.problems and
// left out.
LocalWalk WalkLocalTree(const std::string &folder);

// `folder` + "/" + a relative tree path.
std::string LocalJoin(const std::string &folder, const std::string &relative);

}  // namespace dncctl
