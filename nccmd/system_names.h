// The names of the controller's own system file and folders. Deleting or
// overwriting them can leave a controller that no longer starts, so every
// front end refuses them unless the user insists (dncctl --force). The
// comparison is exact, case included, on the last component of a path, in
// any folder: the controller's own names are upper case.
#pragma once

#include <string_view>

namespace nccmd {

inline constexpr std::string_view kSystemFileName = "QVTROM.BIN";
inline constexpr std::string_view kSystemDirNames[] = {"QVT", "PRG"};

// The last component of a remote path ("\QVT\QVTROM.BIN" -> "QVTROM.BIN",
// "\QVT\" -> "QVT"); a path is its own last component when it has no '\'.
inline std::string_view LastRemoteComponent(std::string_view path) {
    while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    const size_t slash = path.rfind('\\');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// A file the controller needs: never deleted, never written over.
inline bool IsSystemFile(std::string_view pathOrName) { return LastRemoteComponent(pathOrName) == kSystemFileName; }

// A folder the controller needs: never deleted.
inline bool IsSystemDir(std::string_view pathOrName) {
    const std::string_view name = LastRemoteComponent(pathOrName);
    for (const std::string_view dir : kSystemDirNames) {
        if (name == dir) return true;
    }
    return false;
}

}  // namespace nccmd
