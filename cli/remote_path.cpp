#include "cli/remote_path.h"

#include <algorithm>

namespace dncctl {

namespace {

std::string WithBackslashes(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    if (path.empty() || path.front() != '\\') path.insert(path.begin(), '\\');
    return path;
}

bool EndsWithSeparator(const std::string &path) {
    return !path.empty() && (path.back() == '/' || path.back() == '\\');
}

}  // namespace

std::string RemoteFilePath(const std::string &typed) { return WithBackslashes(typed); }

std::string RemoteDirPath(const std::string &typed) {
    std::string path = WithBackslashes(typed);
    if (path.back() != '\\') path += '\\';
    return path;
}

std::string RemoteDirName(const std::string &typed) {
    std::string path = WithBackslashes(typed);
    while (path.size() > 1 && path.back() == '\\') path.pop_back();
    return path;
}

std::string RemotePutPath(const std::string &typed, const std::string &localPath) {
    if (typed.empty() || EndsWithSeparator(typed)) return RemoteDirPath(typed) + BaseName(localPath);
    return RemoteFilePath(typed);
}

std::string BaseName(const std::string &path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace dncctl
