#include "ncsim/storage.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "nccmd/nc_protocol.h"

namespace ncsim {
namespace {

constexpr size_t kMaxNamePart = nccmd::kListingNameSize - 1;  // 8
constexpr size_t kMaxExtPart = nccmd::kListingExtSize - 1;    // 5

// Closes a descriptor when it goes out of scope.
struct FdGuard {
    int fd;
    ~FdGuard() {
        if (fd >= 0) close(fd);
    }
};

// Splits at "\"; empty names (leading, trailing, doubled separators) are
// skipped. False when a name is not allowed.
bool SplitPath(std::string_view path, std::vector<std::string> &names) {
    names.clear();
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view name = path.substr(start, end - start);
        if (!name.empty()) {
            if (!FitsListingEntry(name)) return false;
            names.emplace_back(name);
        }
        start = end + 1;
    }
    return true;
}

StorageStatus StatusOfOpenError(int error) {
    switch (error) {
        case ENOENT:
            return StorageStatus::NotFound;
        case ENOTDIR:
            return StorageStatus::NotFound;  // a file where a directory was named
        case ELOOP:
            return StorageStatus::BadPath;   // a link: never followed
        default:
            return StorageStatus::Failed;
    }
}

struct Entry {
    bool directory;
    std::string name;
    uint32_t size;
};

void PutEntry(const Entry &entry, uint8_t *out) {
    std::memset(out, 0, nccmd::kListingEntrySize);
    out[0] = entry.directory ? nccmd::kAttributeDirectory : nccmd::kAttributeFile;
    const size_t dot = entry.name.find('.');
    const std::string base = entry.name.substr(0, dot);
    const std::string ext = dot == std::string::npos ? "" : entry.name.substr(dot + 1);
    std::memcpy(out + nccmd::kListingNameOffset, base.data(), base.size());
    std::memcpy(out + nccmd::kListingExtOffset, ext.data(), ext.size());
    nccmd::PutLittleEndian32(out + nccmd::kListingSizeOffset, entry.size);
}

}  // namespace

bool FitsListingEntry(std::string_view name) {
    if (name.empty() || name[0] == '.') return false;
    for (const char c : name) {
        if (c <= 0x20 || c >= 0x7F || c == '\\' || c == '/') return false;
    }
    const size_t dot = name.find('.');
    if (dot == std::string_view::npos) return name.size() <= kMaxNamePart;
    const std::string_view ext = name.substr(dot + 1);
    return dot <= kMaxNamePart && ext.find('.') == std::string_view::npos && ext.size() <= kMaxExtPart;
}

Storage::~Storage() {
    if (rootFd_ >= 0) close(rootFd_);
}

bool Storage::Open(const std::string &root) {
    if (rootFd_ >= 0) close(rootFd_);
    rootFd_ = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return rootFd_ >= 0;
}

StorageStatus Storage::Fail(int error) {
    lastErrno_ = error;
    return StorageStatus::Failed;
}

Storage::Parent::~Parent() {
    if (fd >= 0) close(fd);
}

int Storage::Parent::Release() {
    const int released = fd;
    fd = -1;
    return released;
}

StorageStatus Storage::OpenParent(std::string_view path, Parent &parent) {
    std::vector<std::string> names;
    if (!SplitPath(path, names)) return StorageStatus::BadPath;
    // A fresh open of the root, not a dup: a dup shares the file offset, and
    // reading the root as a directory stream would leave it at the end for
    // every later listing.
    int fd = openat(rootFd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return Fail(errno);
    for (size_t i = 0; i + 1 < names.size(); ++i) {
        const int next = openat(fd, names[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        close(fd);
        if (next < 0) {
            lastErrno_ = error;
            return StatusOfOpenError(error);
        }
        fd = next;
    }
    parent.fd = fd;
    parent.name = names.empty() ? std::string() : names.back();
    return StorageStatus::Ok;
}

StorageStatus Storage::OpenDirectory(std::string_view path, int *dirFd) {
    Parent parent;
    const StorageStatus status = OpenParent(path, parent);
    if (status != StorageStatus::Ok) return status;
    if (parent.name.empty()) {
        *dirFd = parent.Release();
        return StorageStatus::Ok;
    }
    const int fd = openat(parent.fd, parent.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        lastErrno_ = errno;
        return errno == ENOTDIR ? StorageStatus::NotDirectory : StatusOfOpenError(errno);
    }
    *dirFd = fd;
    return StorageStatus::Ok;
}

StorageStatus Storage::List(std::string_view path, std::vector<uint8_t> &entries) {
    int fd = -1;
    const StorageStatus status = OpenDirectory(path, &fd);
    if (status != StorageStatus::Ok) return status;
    DIR *dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return Fail(errno);
    }
    std::vector<Entry> found;
    while (const dirent *d = readdir(dir)) {
        // Names that do not fit an entry cannot be shown or addressed.
        if (!FitsListingEntry(d->d_name)) continue;
        struct stat st {};
        if (fstatat(fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            found.push_back({true, d->d_name, 0});
        } else if (S_ISREG(st.st_mode) && uint64_t(st.st_size) <= UINT32_MAX) {
            found.push_back({false, d->d_name, static_cast<uint32_t>(st.st_size)});
        }
    }
    closedir(dir);
    std::sort(found.begin(), found.end(), [](const Entry &a, const Entry &b) {
        return a.directory != b.directory ? a.directory : a.name < b.name;
    });
    entries.assign(found.size() * nccmd::kListingEntrySize, 0);
    for (size_t i = 0; i < found.size(); ++i) PutEntry(found[i], entries.data() + i * nccmd::kListingEntrySize);
    return StorageStatus::Ok;
}

StorageStatus Storage::ReadFile(std::string_view path, std::vector<uint8_t> &data) {
    Parent parent;
    StorageStatus status = OpenParent(path, parent);
    if (status != StorageStatus::Ok) return status;
    if (parent.name.empty()) return StorageStatus::IsDirectory;
    const int fd = openat(parent.fd, parent.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        lastErrno_ = errno;
        return StatusOfOpenError(errno);
    }
    FdGuard guard{fd};
    struct stat st {};
    if (fstat(fd, &st) != 0) return Fail(errno);
    if (S_ISDIR(st.st_mode)) return StorageStatus::IsDirectory;
    if (!S_ISREG(st.st_mode)) return StorageStatus::BadPath;  // devices, pipes: never read
    if (uint64_t(st.st_size) > kMaxFileSize) return StorageStatus::TooLarge;
    data.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < data.size()) {
        const ssize_t n = read(fd, data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Fail(errno);
        if (n == 0) break;  // shrank while we read: serve what is there
        got += static_cast<size_t>(n);
    }
    data.resize(got);
    return StorageStatus::Ok;
}

StorageStatus Storage::CheckFileName(const Parent &parent, bool mayBeMissing) {
    if (parent.name.empty()) return StorageStatus::IsDirectory;
    struct stat st {};
    if (fstatat(parent.fd, parent.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        lastErrno_ = errno;
        return errno == ENOENT && mayBeMissing ? StorageStatus::Ok : StatusOfOpenError(errno);
    }
    if (S_ISDIR(st.st_mode)) return StorageStatus::IsDirectory;
    if (!S_ISREG(st.st_mode)) return StorageStatus::BadPath;  // links, devices, pipes
    return StorageStatus::Ok;
}

StorageStatus Storage::CheckWritable(std::string_view path) {
    Parent parent;
    const StorageStatus status = OpenParent(path, parent);
    if (status != StorageStatus::Ok) return status;
    return CheckFileName(parent, true);
}

StorageStatus Storage::WriteFile(std::string_view path, const std::vector<uint8_t> &data) {
    Parent parent;
    StorageStatus status = OpenParent(path, parent);
    if (status != StorageStatus::Ok) return status;
    status = CheckFileName(parent, true);
    if (status != StorageStatus::Ok) return status;

    // The old file stays whole until the new one is complete: a failed write
    // leaves it as it was. Names starting with a dot are never listed.
    char temp[64];
    std::snprintf(temp, sizeof temp, ".ncsim-%d-%u.part", static_cast<int>(getpid()), ++tempCounter_);
    const int fd = openat(parent.fd, temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return Fail(errno);
    size_t written = 0;
    int error = 0;
    while (written < data.size()) {
        const ssize_t n = write(fd, data.data() + written, data.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = errno;
            break;
        }
        written += static_cast<size_t>(n);
    }
    if (close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && renameat(parent.fd, temp, parent.fd, parent.name.c_str()) != 0) error = errno;
    if (error != 0) {
        unlinkat(parent.fd, temp, 0);
        return Fail(error);
    }
    return StorageStatus::Ok;
}

StorageStatus Storage::DeleteFile(std::string_view path) {
    Parent parent;
    StorageStatus status = OpenParent(path, parent);
    if (status != StorageStatus::Ok) return status;
    status = CheckFileName(parent, false);
    if (status != StorageStatus::Ok) return status;
    if (unlinkat(parent.fd, parent.name.c_str(), 0) != 0) return Fail(errno);
    return StorageStatus::Ok;
}

StorageStatus Storage::CreateDir(std::string_view path) {
    Parent parent;
    const StorageStatus status = OpenParent(path, parent);
    if (status != StorageStatus::Ok) return status;
    if (parent.name.empty()) return StorageStatus::Exists;
    if (mkdirat(parent.fd, parent.name.c_str(), 0755) != 0) {
        if (errno == EEXIST) return StorageStatus::Exists;
        return Fail(errno);
    }
    return StorageStatus::Ok;
}

StorageStatus Storage::DeleteDir(std::string_view path) {
    Parent parent;
    const StorageStatus status = OpenParent(path, parent);
    if (status != StorageStatus::Ok) return status;
    if (parent.name.empty()) return StorageStatus::BadPath;  // the root stays
    struct stat st {};
    if (fstatat(parent.fd, parent.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        lastErrno_ = errno;
        return StatusOfOpenError(errno);
    }
    if (S_ISLNK(st.st_mode)) return StorageStatus::BadPath;
    if (!S_ISDIR(st.st_mode)) return StorageStatus::NotDirectory;
    if (unlinkat(parent.fd, parent.name.c_str(), AT_REMOVEDIR) != 0) {
        if (errno == ENOTEMPTY || errno == EEXIST) return StorageStatus::NotEmpty;
        return Fail(errno);
    }
    return StorageStatus::Ok;
}

}  // namespace ncsim
