#include "platform/folder.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace platform {

struct Folder {
    int fd;
};

namespace {

// Closes a descriptor when it goes out of scope.
struct FdGuard {
    int fd;
    ~FdGuard() {
        if (fd >= 0) close(fd);
    }
};

FolderEntryKind KindOf(mode_t mode) {
    if (S_ISREG(mode)) return FolderEntryKind::kFile;
    if (S_ISDIR(mode)) return FolderEntryKind::kDirectory;
    if (S_ISLNK(mode)) return FolderEntryKind::kLink;
    return FolderEntryKind::kOther;
}

int Adopt(int fd, Folder **folder) {
    if (fd < 0) return errno;
    *folder = new Folder{fd};
    return 0;
}

unsigned tempCounter = 0;

}  // namespace

int FolderOpen(const char *path, Folder **folder) {
    return Adopt(open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC), folder);
}

int FolderOpenChild(Folder *parent, const char *name, Folder **child) {
    return Adopt(openat(parent->fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC), child);
}

int FolderReopen(Folder *folder, Folder **again) {
    // A fresh open, not a dup: a dup shares the file offset, and reading one
    // as a directory stream would leave the other at its end.
    return Adopt(openat(folder->fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC), again);
}

void FolderClose(Folder *folder) {
    if (folder == nullptr) return;
    close(folder->fd);
    delete folder;
}

int FolderStat(Folder *folder, const char *name, FolderEntryKind *kind, uint64_t *size) {
    struct stat st {};
    if (fstatat(folder->fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    *kind = KindOf(st.st_mode);
    *size = S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0;
    return 0;
}

int FolderList(Folder *folder, std::vector<FolderEntry> &entries) {
    entries.clear();
    const int fd = openat(folder->fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    DIR *dir = fdopendir(fd);
    if (dir == nullptr) {
        const int error = errno;
        close(fd);
        return error;
    }
    while (const dirent *d = readdir(dir)) {
        const std::string name = d->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        if (fstatat(fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
        entries.push_back({name, KindOf(st.st_mode), S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0});
    }
    closedir(dir);
    return 0;
}

int FolderReadFile(Folder *folder, const char *name, uint64_t maxSize, std::vector<uint8_t> &data) {
    // Not waiting on a FIFO someone put there.
    const int fd = openat(folder->fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    FdGuard guard{fd};
    struct stat st {};
    if (fstat(fd, &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return EINVAL;  // devices, pipes: never read
    if (uint64_t(st.st_size) > maxSize) return EFBIG;
    data.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < data.size()) {
        const ssize_t n = read(fd, data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) break;  // shrank while we read: serve what is there
        got += static_cast<size_t>(n);
    }
    data.resize(got);
    return 0;
}

int FolderReplaceFile(Folder *folder, const char *name, const uint8_t *data, size_t size) {
    char temp[64];
    std::snprintf(temp, sizeof temp, ".ncsim-%d-%u.part", static_cast<int>(getpid()), ++tempCounter);
    const int fd = openat(folder->fd, temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    size_t written = 0;
    int error = 0;
    while (written < size) {
        const ssize_t n = write(fd, data + written, size - written);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = errno;
            break;
        }
        written += static_cast<size_t>(n);
    }
    if (close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && renameat(folder->fd, temp, folder->fd, name) != 0) error = errno;
    if (error != 0) unlinkat(folder->fd, temp, 0);
    return error;
}

int FolderRemoveFile(Folder *folder, const char *name) { return unlinkat(folder->fd, name, 0) == 0 ? 0 : errno; }

int FolderMakeDirectory(Folder *folder, const char *name) {
    return mkdirat(folder->fd, name, 0755) == 0 ? 0 : errno;
}

int FolderRemoveDirectory(Folder *folder, const char *name) {
    if (unlinkat(folder->fd, name, AT_REMOVEDIR) == 0) return 0;
    return errno == EEXIST ? ENOTEMPTY : errno;
}

}  // namespace platform
