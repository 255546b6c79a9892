#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

int Fd(intptr_t native) { return static_cast<int>(native); }

FileInfo InfoOf(const struct stat &st) {
    FileInfo info;
    if (S_ISLNK(st.st_mode)) info.kind = FileKind::kLink;
    else if (S_ISDIR(st.st_mode)) info.kind = FileKind::kFolder;
    else if (S_ISREG(st.st_mode)) info.kind = FileKind::kFile;
    else if (S_ISFIFO(st.st_mode)) info.kind = FileKind::kFifo;
    else if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) info.kind = FileKind::kDevice;
    else if (S_ISSOCK(st.st_mode)) info.kind = FileKind::kSocket;
    else info.kind = FileKind::kOther;
    if (info.kind == FileKind::kFile) info.size = uint64_t(st.st_size);
    return info;
}

// Opened without blocking so a FIFO cannot hold the open up; a regular file
// then reads as any other.
int Adopt(int fd, File *file, intptr_t *native) {
    if (fd < 0) return errno;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const int flags = fcntl(fd, F_GETFL);
        if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    *file = File();
    *native = fd;
    return 0;
}

}  // namespace

struct FileAccess {
    static intptr_t &Native(File &file) { return file.native_; }
};

struct FolderAccess {
    static intptr_t &Native(Folder &folder) { return folder.native_; }
};

std::string ErrorText(int error) { return std::strerror(error); }

File::~File() { Close(); }

File::File(File &&other) noexcept : native_(other.native_) { other.native_ = -1; }

File &File::operator=(File &&other) noexcept {
    if (this != &other) {
        Close();
        native_ = other.native_;
        other.native_ = -1;
    }
    return *this;
}

bool File::IsOpen() const { return native_ >= 0; }

int File::Info(FileInfo *info) const {
    struct stat st {};
    if (fstat(Fd(native_), &st) != 0) return errno;
    *info = InfoOf(st);
    return 0;
}

int64_t File::Read(void *buffer, size_t length, int *error) {
    for (;;) {
        const ssize_t n = ::read(Fd(native_), buffer, length);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        *error = errno;
        return -1;
    }
}

int64_t File::ReadFully(void *buffer, size_t length, int *error) {
    size_t done = 0;
    while (done < length) {
        const int64_t n = Read(static_cast<char *>(buffer) + done, length - done, error);
        if (n < 0) return -1;
        if (n == 0) break;
        done += size_t(n);
    }
    return int64_t(done);
}

int64_t File::Write(const void *data, size_t length, int *error) {
    for (;;) {
        const ssize_t n = ::write(Fd(native_), data, length);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        *error = errno;
        return -1;
    }
}

int File::WriteAll(const void *data, size_t length) {
    size_t done = 0;
    while (done < length) {
        int error = 0;
        const int64_t n = Write(static_cast<const char *>(data) + done, length - done, &error);
        if (n < 0) return error;
        done += size_t(n);
    }
    return 0;
}

int File::Rewind() { return lseek(Fd(native_), 0, SEEK_SET) == 0 ? 0 : errno; }

int File::Sync() { return fsync(Fd(native_)) == 0 ? 0 : errno; }

int File::Close() {
    if (native_ < 0) return 0;
    const int result = ::close(Fd(native_)) == 0 ? 0 : errno;
    native_ = -1;
    return result;
}

int OpenForReading(const std::string &path, Links links, File *file) {
    const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (links == Links::kRefuse ? O_NOFOLLOW : 0);
    return Adopt(::open(path.c_str(), flags), file, &FileAccess::Native(*file));
}

int OpenForAppend(const std::string &path, File *file) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    return Adopt(fd, file, &FileAccess::Native(*file));
}

int Stat(const std::string &path, Links links, FileInfo *info) {
    struct stat st {};
    const int result = links == Links::kFollow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    if (result != 0) {
        *info = FileInfo{};
        return errno == ENOENT ? 0 : errno;
    }
    *info = InfoOf(st);
    return 0;
}

int MakeFolders(const std::string &path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (!folder.empty() && folder.back() != '/' && ::mkdir(folder.c_str(), 0777) != 0) {
            if (errno != EEXIST) return errno;
            struct stat st {};
            if (::stat(folder.c_str(), &st) != 0) return errno;
            if (!S_ISDIR(st.st_mode)) return slash == std::string::npos ? EEXIST : ENOTDIR;
        }
        if (slash == std::string::npos) return 0;
    }
}

std::string ParentPath(const std::string &path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string FileName(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string AbsolutePath(const std::string &path) {
    if (path.empty() || path[0] == '/') return path;
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr) return resolved;
    return path;
}

Folder::~Folder() {
    if (native_ >= 0) ::close(Fd(native_));
}

Folder::Folder(Folder &&other) noexcept : native_(other.native_), path_(std::move(other.path_)) { other.native_ = -1; }

Folder &Folder::operator=(Folder &&other) noexcept {
    if (this != &other) {
        if (native_ >= 0) ::close(Fd(native_));
        native_ = other.native_;
        path_ = std::move(other.path_);
        other.native_ = -1;
    }
    return *this;
}

int Folder::Open(const std::string &path, Folder *folder) {
    const int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    *folder = Folder();
    folder->native_ = fd;
    folder->path_ = path;
    return 0;
}

bool Folder::IsOpen() const { return native_ >= 0; }

int Folder::Duplicate(Folder *copy) const {
    const int fd = fcntl(Fd(native_), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return errno;
    *copy = Folder();
    copy->native_ = fd;
    copy->path_ = path_;
    return 0;
}

int Folder::OpenFolder(const std::string &name, Folder *folder) const {
    const int fd = ::openat(Fd(native_), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // O_DIRECTORY answers a link with ENOTDIR; say what it is.
        const int error = errno;
        FileInfo info;
        return error == ENOTDIR && Lookup(name, &info) == 0 && info.kind == FileKind::kLink ? ELOOP : error;
    }
    *folder = Folder();
    folder->native_ = fd;
    folder->path_ = path_ + "/" + name;
    return 0;
}

int Folder::MakeFolder(const std::string &name) const {
    return ::mkdirat(Fd(native_), name.c_str(), 0777) == 0 ? 0 : errno;
}

int Folder::OpenFile(const std::string &name, File *file) const {
    const int fd = ::openat(Fd(native_), name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    return Adopt(fd, file, &FileAccess::Native(*file));
}

int Folder::CreateNew(const std::string &name, File *file) const {
    // The permissions of any new file (umask applies).
    const int fd = ::openat(Fd(native_), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    return Adopt(fd, file, &FileAccess::Native(*file));
}

int Folder::Replace(const std::string &from, const std::string &to) const {
    return renameat(Fd(native_), from.c_str(), Fd(native_), to.c_str()) == 0 ? 0 : errno;
}

int Folder::Remove(const std::string &name) const {
    return unlinkat(Fd(native_), name.c_str(), 0) == 0 ? 0 : errno;
}

int Folder::RemoveFolder(const std::string &name) const {
    if (unlinkat(Fd(native_), name.c_str(), AT_REMOVEDIR) == 0) return 0;
    const int error = errno;
    // Some systems answer a folder with entries so.
    if (error == EEXIST) return ENOTEMPTY;
    // A link is no folder to the call; say what it is.
    FileInfo info;
    return error == ENOTDIR && Lookup(name, &info) == 0 && info.kind == FileKind::kLink ? ELOOP : error;
}

int Folder::Lookup(const std::string &name, FileInfo *info) const {
    struct stat st {};
    if (fstatat(Fd(native_), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        *info = FileInfo{};
        return errno == ENOENT ? 0 : errno;
    }
    *info = InfoOf(st);
    return 0;
}

int Folder::List(std::vector<FolderEntry> *entries) const {
    entries->clear();
    const int fd = ::openat(Fd(native_), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    DIR *dir = fdopendir(fd);
    if (dir == nullptr) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    int error = 0;
    for (;;) {
        errno = 0;
        const dirent *entry = readdir(dir);
        if (entry == nullptr) {
            error = errno;
            break;
        }
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        FolderEntry e{name, {}};
        if (const int lookup = Lookup(name, &e.info); lookup != 0) e.info.kind = FileKind::kOther;
        // Gone between the listing and the look: not an entry any more.
        if (e.info.kind != FileKind::kMissing) entries->push_back(std::move(e));
    }
    closedir(dir);
    return error;
}

size_t Folder::NameLimit() const {
    const long limit = fpathconf(Fd(native_), _PC_NAME_MAX);
    return limit > 0 ? size_t(limit) : size_t(NAME_MAX);
}

}  // namespace platform
