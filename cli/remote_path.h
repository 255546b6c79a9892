// Remote paths as the controller wants them: '\' separators, starting with
// '\'; a directory path also ends with '\' ("\" is the root). Users may type
// '/' instead, which is easier in shells and scripts.
#pragma once

#include <string>

namespace dncctl {

// A file path, e.g. "PRG/O1.NC" -> "\PRG\O1.NC".
std::string RemoteFilePath(const std::string &typed);
// A directory path for listing, e.g. "PRG" -> "\PRG\", "" -> "\".
std::string RemoteDirPath(const std::string &typed);
// A directory named for creation or deletion: no trailing '\', e.g.
// "/DATA/" -> "\DATA".
std::string RemoteDirName(const std::string &typed);
// The path a put writes to: `typed` empty means the root, and a `typed`
// ending in a separator names a directory; the local file's name is then
// appended.
std::string RemotePutPath(const std::string &typed, const std::string &localPath);
// The last component of a remote or local path.
std::string BaseName(const std::string &path);

}  // namespace dncctl
