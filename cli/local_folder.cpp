#include "cli/local_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace dncctl {

UniqueFd::~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
}

UniqueFd &UniqueFd::operator=(UniqueFd &&other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.Release();
    }
    return *this;
}

namespace {

const char *KindOf(mode_t mode) {
    if (S_ISLNK(mode)) return "a link";
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISREG(mode)) return "a file";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "a special file";
}

// After fstat of an open file: a regular file, or why not.
bool CheckRegular(int fd, const std::string &shown, RegularFile *file, std::string *error) {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        *error = "cannot read " + shown + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = shown + " is " + KindOf(st.st_mode) + ", not a regular file";
        return false;
    }
    // Opened without blocking so a FIFO could not hold the open up; a
    // regular file reads the same either way, but say what is meant.
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    file->fd = UniqueFd(fd);
    file->size = uint64_t(st.st_size);
    return true;
}

bool IsDotName(const std::string &name) { return name == "." || name == ".."; }

}  // namespace

bool OpenRegularFile(const std::string &path, RegularFile *file, std::string *error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!CheckRegular(fd, path, file, error)) {
        ::close(fd);
        return false;
    }
    return true;
}

ssize_t ReadFully(int fd, void *buffer, size_t length) {
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::read(fd, static_cast<char *>(buffer) + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += size_t(n);
    }
    return ssize_t(done);
}

std::string DescribeEntry(int folderFd, const std::string &name) {
    struct stat st {};
    if (fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return std::strerror(errno);
    return KindOf(st.st_mode);
}

bool LocalFolder::Open(const std::string &path, LocalFolder *folder, std::string *error) {
    const int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot open the folder " + path + ": " + std::strerror(errno);
        return false;
    }
    folder->fd_ = UniqueFd(fd);
    folder->path_ = path;
    return true;
}

std::string LocalFolder::Shown(const std::string &relative) const {
    if (relative.empty()) return path_;
    if (!path_.empty() && path_.back() == '/') return path_ + relative;
    return path_ + "/" + relative;
}

bool LocalFolder::Descend(const std::string &relative, bool create, LocalFolder *folder, std::string *error) const {
    UniqueFd current(::dup(fd_.Get()));
    if (!current.Valid()) {
        *error = "cannot open the folder " + path_ + ": " + std::strerror(errno);
        return false;
    }
    std::string walked;
    size_t start = 0;
    while (start <= relative.size()) {
        const size_t slash = relative.find('/', start);
        const std::string name = relative.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        start = slash == std::string::npos ? relative.size() + 1 : slash + 1;
        if (name.empty()) continue;
        walked += (walked.empty() ? "" : "/") + name;
        if (IsDotName(name)) {
            *error = Shown(walked) + ": not a name inside " + path_;
            return false;
        }
        int fd = ::openat(current.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT && create) {
            if (::mkdirat(current.Get(), name.c_str(), 0777) != 0 && errno != EEXIST) {
                *error = "cannot make the folder " + Shown(walked) + ": " + std::strerror(errno);
                return false;
            }
            fd = ::openat(current.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (fd < 0) {
            const int openErrno = errno;
            const std::string kind = DescribeEntry(current.Get(), name);
            if (kind == "a link") {
                *error = Shown(walked) + ": a link, not followed; nothing is read or written through it";
            } else if (openErrno == ENOTDIR || openErrno == ELOOP) {
                *error = Shown(walked) + " is " + kind + " where a folder should be";
            } else {
                *error = "cannot open the folder " + Shown(walked) + ": " + std::strerror(openErrno);
            }
            return false;
        }
        current = UniqueFd(fd);
    }
    folder->fd_ = std::move(current);
    folder->path_ = Shown(relative);
    return true;
}

bool LocalFolder::OpenFile(const std::string &relative, RegularFile *file, std::string *error) const {
    const size_t slash = relative.rfind('/');
    const std::string parentPath = slash == std::string::npos ? "" : relative.substr(0, slash);
    const std::string name = slash == std::string::npos ? relative : relative.substr(slash + 1);
    LocalFolder parent;
    if (!Descend(parentPath, false, &parent, error)) return false;
    if (name.empty() || IsDotName(name)) {
        *error = Shown(relative) + ": not a file name";
        return false;
    }
    const int fd = ::openat(parent.Fd(), name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int openErrno = errno;
        if (DescribeEntry(parent.Fd(), name) == "a link") {
            *error = Shown(relative) + ": a link, not followed; nothing is read through it";
        } else {
            *error = "cannot open " + Shown(relative) + ": " + std::strerror(openErrno);
        }
        return false;
    }
    if (!CheckRegular(fd, Shown(relative), file, error)) {
        ::close(fd);
        return false;
    }
    return true;
}

}  // namespace dncctl
