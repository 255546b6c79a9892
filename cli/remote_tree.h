// The controller's folder tree below one remote folder, listed folder by
// folder. Names come from the controller and are not trusted: they become
// local file names in a backup, so a name that could place a file outside
// the backup folder is refused, never cleaned up into something else.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli/file_tree.h"
#include "nccmd/nc_commands.h"

namespace dncctl {

enum class NameCheck {
    kUse,     // an ordinary name
    kSkip,    // "." or "..": the folder itself or its parent, silently passed over
    kRefuse,  // would leave the folder, hide itself or break a manifest line
};

// Whether a name from a listing may become one local path component.
// Refused: empty; holding '/', '\', a zero byte or another control
// character (a newline would split a manifest line); starting with '.'
// (hidden files are what dncctl's own temporary files look like, and are
// never restored).
NameCheck CheckRemoteName(const std::string &name);

// The name a listing entry stands for: a folder's name, a file's name and
// extension joined by '.'.
std::string EntryName(const nccmd::ListingEntry &entry);

// Lists one remote folder ("\" or "\PRG\") into *entries; returns the
// result code. The walk takes it as a parameter so tests can script one.
using RemoteLister = std::function<uint8_t(const std::string &folder, std::vector<nccmd::ListingEntry> *entries)>;

// Folders deeper than this below the starting folder are not listed: a
// controller whose listing shows a folder inside itself would otherwise be
// walked until the path no longer fits a request.
inline constexpr int kMaxTreeDepth = 16;
// No shop controller holds this many folders; a listing that keeps
// repeating folders would otherwise multiply them at every level.
inline constexpr size_t kMaxTreeFolders = 4096;

struct RemoteWalk {
    FileTree tree;
    uint8_t code = 0;          // the starting folder could not be listed
    bool interrupted = false;  // `stop` said so between two listings
    bool cutShort = false;     // a bound was passed: the tree is incomplete
};

// Walks the tree below `folder` (starting and ending with '\'). A sub-folder
// that cannot be listed, a refused name and a folder beyond the bounds are
// named in tree.problems and left out; the rest is still walked. Passing
// kMaxTreeFolders or kMaxTreeEntries (file_tree.h) ends the walk there
// with cutShort set.
RemoteWalk WalkRemoteTree(const RemoteLister &list, const std::string &folder,
                          const std::function<bool()> &stop = {});

// A name or path from the controller as it may be shown on a terminal:
// control bytes (newlines, escapes) as \xNN.
std::string PrintableName(const std::string &text);

// The remote path of a relative tree path below `folder`:
// ("\", "PRG/O1.NC") -> "\PRG\O1.NC"; with `asFolder` it ends with '\'.
std::string RemoteJoin(const std::string &folder, const std::string &relative, bool asFolder = false);

}  // namespace dncctl
