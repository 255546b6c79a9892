#include "platform/files.h"

#include <windows.h>

#include <cerrno>
#include <cstring>

#include "platform/text_win32.h"

namespace platform {

namespace {

// The errno value nearest to a Windows error.
int ErrorNumber(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME: return ENOENT;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_PARAMETER: return EINVAL;
        case ERROR_ACCESS_DENIED:
        case ERROR_PRIVILEGE_NOT_HELD: return EACCES;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION: return EBUSY;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return EEXIST;
        case ERROR_DIRECTORY: return ENOTDIR;
        case ERROR_DIR_NOT_EMPTY: return ENOTEMPTY;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: return ENOMEM;
        case ERROR_WRITE_PROTECT: return EROFS;
        case ERROR_CANT_RESOLVE_FILENAME: return ELOOP;
        case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
        case ERROR_INVALID_HANDLE: return EBADF;
        case ERROR_BROKEN_PIPE: return EPIPE;
        default: return EIO;
    }
}

int LastError() { return ErrorNumber(GetLastError()); }

HANDLE Handle(intptr_t native) { return reinterpret_cast<HANDLE>(native); }
intptr_t Native(HANDLE handle) { return handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(handle); }

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

// The user's path with Windows' separators.
std::wstring NativePath(const std::string &path) {
    std::wstring wide = Wide(path);
    for (wchar_t &c : wide) {
        if (c == L'/') c = L'\\';
    }
    return wide;
}

std::wstring FullPath(const std::wstring &path) {
    const DWORD n = GetFullPathNameW(path.empty() ? L"." : path.c_str(), 0, nullptr, nullptr);
    if (n == 0) return path;
    std::wstring full(n, L'\0');
    const DWORD written = GetFullPathNameW(path.empty() ? L"." : path.c_str(), n, full.data(), nullptr);
    full.resize(written);
    return full;
}

// A full path as the system takes it literally: no length limit, no
// trailing dots or spaces dropped, no device names (NUL, COM1) read into it.
std::wstring Literal(const std::wstring &full) {
    if (full.rfind(L"\\\\?\\", 0) == 0) return full;
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

FileInfo InfoOfAttributes(DWORD attributes, uint64_t size) {
    FileInfo info;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) info.kind = FileKind::kLink;
    else if (attributes & FILE_ATTRIBUTE_DIRECTORY) info.kind = FileKind::kFolder;
    else if (attributes & FILE_ATTRIBUTE_DEVICE) info.kind = FileKind::kDevice;
    else info.kind = FileKind::kFile;
    if (info.kind == FileKind::kFile) info.size = size;
    return info;
}

int InfoOfHandle(HANDLE handle, FileInfo *info) {
    switch (GetFileType(handle)) {
        case FILE_TYPE_CHAR: *info = FileInfo{FileKind::kDevice, 0}; return 0;
        case FILE_TYPE_PIPE: *info = FileInfo{FileKind::kFifo, 0}; return 0;
        case FILE_TYPE_DISK: break;
        default: *info = FileInfo{FileKind::kOther, 0}; return 0;
    }
    BY_HANDLE_FILE_INFORMATION data{};
    if (!GetFileInformationByHandle(handle, &data)) return LastError();
    *info = InfoOfAttributes(data.dwFileAttributes, uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow);
    return 0;
}

// Everyone may go on reading, writing, renaming and removing a file while
// it is open here, as on POSIX.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A folder held open cannot be renamed or removed, so a path below it stays
// the path it was when it was opened.
constexpr DWORD kShareFolder = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

// Opened with the link itself, never its target: a reparse point (a
// symbolic link, a junction) is closed again and refused. The handle says
// so on Windows; wine opens a POSIX link's target even so and only the
// name's attributes tell, so both are asked (the handle, held open, keeps
// a folder from being swapped in between).
int RefuseReparsePoint(HANDLE handle, const std::wstring &path) {
    BY_HANDLE_FILE_INFORMATION data{};
    const bool handleSays = GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &data) &&
                            (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    const bool nameSays = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (handleSays || nameSays) {
        CloseHandle(handle);
        return ELOOP;
    }
    return 0;
}

}  // namespace

struct FileAccess {
    static intptr_t &Native(File &file) { return file.native_; }
};

struct FolderAccess {
    static intptr_t &Native(Folder &folder) { return folder.native_; }
    static std::string &Path(Folder &folder) { return folder.path_; }
    static const std::string &Path(const Folder &folder) { return folder.path_; }
};

namespace {

int Adopt(HANDLE handle, File *file) {
    if (handle == INVALID_HANDLE_VALUE) return LastError();
    *file = File();
    FileAccess::Native(*file) = Native(handle);
    return 0;
}

// One name inside the folder at `folder` (a full path), or EINVAL for a name
// that would reach elsewhere: separators, a drive or a stream (':').
int Child(const std::string &folder, const std::string &name, std::wstring *path) {
    if (name.empty() || name.find_first_of("/\\:") != std::string::npos) return EINVAL;
    std::wstring base = Literal(Wide(folder));
    if (!base.empty() && !IsSeparator(base.back())) base += L'\\';
    *path = base + Wide(name);
    return 0;
}

}  // namespace

std::string ErrorText(int error) {
    // msvcrt knows only the oldest of these numbers; the words are those
    // of the POSIX systems, so a message reads alike everywhere.
    switch (error) {
        case ENOENT: return "No such file or directory";
        case EACCES: return "Permission denied";
        case EEXIST: return "File exists";
        case ENOTDIR: return "Not a directory";
        case EISDIR: return "Is a directory";
        case EINVAL: return "Invalid argument";
        case ENOSPC: return "No space left on device";
        case EROFS: return "Read-only file system";
        case EBUSY: return "Device or resource busy";
        case ENOTEMPTY: return "Directory not empty";
        case ENAMETOOLONG: return "File name too long";
        case ELOOP: return "Too many levels of symbolic links";
        case ENOMEM: return "Cannot allocate memory";
        case EBADF: return "Bad file descriptor";
        case EPIPE: return "Broken pipe";
        case EIO: return "Input/output error";
        default: return std::strerror(error);
    }
}

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

bool File::IsOpen() const { return native_ != -1; }

int File::Info(FileInfo *info) const { return InfoOfHandle(Handle(native_), info); }

int64_t File::Read(void *buffer, size_t length, int *error) {
    DWORD n = 0;
    const DWORD ask = length > 0x40000000 ? 0x40000000 : DWORD(length);
    if (!ReadFile(Handle(native_), buffer, ask, &n, nullptr)) {
        if (GetLastError() == ERROR_BROKEN_PIPE || GetLastError() == ERROR_HANDLE_EOF) return 0;
        *error = LastError();
        return -1;
    }
    return n;
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
    DWORD n = 0;
    const DWORD ask = length > 0x40000000 ? 0x40000000 : DWORD(length);
    if (!WriteFile(Handle(native_), data, ask, &n, nullptr)) {
        *error = LastError();
        return -1;
    }
    return n;
}

int File::WriteAll(const void *data, size_t length) {
    size_t done = 0;
    while (done < length) {
        int error = 0;
        const int64_t n = Write(static_cast<const char *>(data) + done, length - done, &error);
        if (n < 0) return error;
        if (n == 0) return EIO;
        done += size_t(n);
    }
    return 0;
}

int File::Rewind() {
    LARGE_INTEGER start{};
    return SetFilePointerEx(Handle(native_), start, nullptr, FILE_BEGIN) ? 0 : LastError();
}

int File::Sync() { return FlushFileBuffers(Handle(native_)) ? 0 : LastError(); }

int File::Close() {
    if (native_ == -1) return 0;
    const int result = CloseHandle(Handle(native_)) ? 0 : LastError();
    native_ = -1;
    return result;
}

int OpenForReading(const std::string &path, Links links, File *file) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (links == Links::kRefuse ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    const std::wstring native = NativePath(path);
    HANDLE handle = CreateFileW(native.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle != INVALID_HANDLE_VALUE && links == Links::kRefuse) {
        if (const int refused = RefuseReparsePoint(handle, native); refused != 0) return refused;
    }
    return Adopt(handle, file);
}

int OpenForAppend(const std::string &path, File *file) {
    // Append access alone: the system puts every write at the end as one
    // piece, whoever else is appending.
    HANDLE handle = CreateFileW(NativePath(path).c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return Adopt(handle, file);
}

int Stat(const std::string &path, Links links, FileInfo *info) {
    *info = FileInfo{};
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(NativePath(path).c_str(), GetFileExInfoStandard, &data)) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : ErrorNumber(error);
    }
    *info = InfoOfAttributes(data.dwFileAttributes, uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow);
    if (links == Links::kRefuse || info->kind != FileKind::kLink) return 0;
    // What the link leads to.
    HANDLE handle = CreateFileW(NativePath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        *info = FileInfo{};
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : ErrorNumber(error);
    }
    const int result = InfoOfHandle(handle, info);
    CloseHandle(handle);
    return result;
}

int MakeFolders(const std::string &path) {
    const std::wstring wide = NativePath(path);
    // Past the root: "\\server\share\", "C:\", "\" or nothing.
    size_t start = 0;
    if (wide.rfind(L"\\\\", 0) == 0) {
        start = wide.find(L'\\', 2);
        start = start == std::wstring::npos ? wide.size() : wide.find(L'\\', start + 1);
        if (start == std::wstring::npos) start = wide.size();
    } else if (wide.size() >= 2 && wide[1] == L':') {
        start = wide.size() > 2 && IsSeparator(wide[2]) ? 3 : 2;
    } else if (!wide.empty() && IsSeparator(wide[0])) {
        start = 1;
    }
    for (size_t at = start; at < wide.size();) {
        size_t end = wide.find(L'\\', at);
        if (end == std::wstring::npos) end = wide.size();
        if (end > at) {
            const std::wstring folder = wide.substr(0, end);
            if (!CreateDirectoryW(folder.c_str(), nullptr)) {
                const DWORD error = GetLastError();
                if (error != ERROR_ALREADY_EXISTS) return ErrorNumber(error);
                const DWORD attributes = GetFileAttributesW(folder.c_str());
                if (attributes == INVALID_FILE_ATTRIBUTES) return LastError();
                if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return end == wide.size() ? EEXIST : ENOTDIR;
            }
        }
        at = end + 1;
    }
    return 0;
}

std::string ParentPath(const std::string &path) {
    const size_t separator = path.find_last_of("/\\");
    if (separator == std::string::npos) return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : "";
    if (separator == 0 || (separator == 2 && path[1] == ':')) return path.substr(0, separator + 1);
    return path.substr(0, separator);
}

std::string FileName(const std::string &path) {
    const size_t separator = path.find_last_of("/\\:");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string AbsolutePath(const std::string &path) {
    if (path.empty() || path == "-") return path;
    return Utf8(FullPath(NativePath(path)));
}

Folder::~Folder() {
    if (native_ != -1) CloseHandle(Handle(native_));
}

Folder::Folder(Folder &&other) noexcept : native_(other.native_), path_(std::move(other.path_)) { other.native_ = -1; }

Folder &Folder::operator=(Folder &&other) noexcept {
    if (this != &other) {
        if (native_ != -1) CloseHandle(Handle(native_));
        native_ = other.native_;
        path_ = std::move(other.path_);
        other.native_ = -1;
    }
    return *this;
}

namespace {

int AdoptFolder(HANDLE handle, const std::wstring &full, Folder *folder) {
    if (handle == INVALID_HANDLE_VALUE) return LastError();
    BY_HANDLE_FILE_INFORMATION data{};
    if (!GetFileInformationByHandle(handle, &data)) {
        const int error = LastError();
        CloseHandle(handle);
        return error;
    }
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        CloseHandle(handle);
        return ENOTDIR;
    }
    *folder = Folder();
    FolderAccess::Native(*folder) = Native(handle);
    FolderAccess::Path(*folder) = Utf8(full);
    return 0;
}

}  // namespace

int Folder::Open(const std::string &path, Folder *folder) {
    const std::wstring full = FullPath(NativePath(path));
    HANDLE handle = CreateFileW(Literal(full).c_str(), kFolderAccess, kShareFolder, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    return AdoptFolder(handle, full, folder);
}

bool Folder::IsOpen() const { return native_ != -1; }

int Folder::Duplicate(Folder *copy) const {
    HANDLE process = GetCurrentProcess();
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (!DuplicateHandle(process, Handle(native_), process, &handle, 0, FALSE, DUPLICATE_SAME_ACCESS)) return LastError();
    *copy = Folder();
    copy->native_ = Native(handle);
    copy->path_ = path_;
    return 0;
}

int Folder::OpenFolder(const std::string &name, Folder *folder) const {
    std::wstring child;
    if (const int bad = Child(path_, name, &child); bad != 0) return bad;
    HANDLE handle = CreateFileW(child.c_str(), kFolderAccess, kShareFolder, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        if (const int refused = RefuseReparsePoint(handle, child); refused != 0) return refused;
    }
    std::string full = path_;
    if (!full.empty() && full.back() != '\\') full += '\\';
    return AdoptFolder(handle, Wide(full + name), folder);
}

int Folder::MakeFolder(const std::string &name) const {
    std::wstring child;
    if (const int bad = Child(path_, name, &child); bad != 0) return bad;
    return CreateDirectoryW(child.c_str(), nullptr) ? 0 : LastError();
}

int Folder::OpenFile(const std::string &name, File *file) const {
    std::wstring child;
    if (const int bad = Child(path_, name, &child); bad != 0) return bad;
    HANDLE handle = CreateFileW(child.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        if (const int refused = RefuseReparsePoint(handle, child); refused != 0) return refused;
    }
    return Adopt(handle, file);
}

int Folder::CreateNew(const std::string &name, File *file) const {
    std::wstring child;
    if (const int bad = Child(path_, name, &child); bad != 0) return bad;
    // CREATE_NEW fails on anything at the name, a link included.
    HANDLE handle = CreateFileW(child.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    return Adopt(handle, file);
}

int Folder::Replace(const std::string &from, const std::string &to) const {
    std::wstring source, target;
    if (const int bad = Child(path_, from, &source); bad != 0) return bad;
    if (const int bad = Child(path_, to, &target); bad != 0) return bad;
    return MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0
                                                                                                            : LastError();
}

int Folder::Remove(const std::string &name) const {
    std::wstring child;
    if (const int bad = Child(path_, name, &child); bad != 0) return bad;
    const DWORD attributes = GetFileAttributesW(child.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return LastError();
    // A link to a folder is removed as a folder is, the folder it led to
    // left alone.
    const bool linkedFolder =
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !linkedFolder) return EISDIR;
    const BOOL removed = linkedFolder ? RemoveDirectoryW(child.c_str()) : DeleteFileW(child.c_str());
    return removed ? 0 : LastError();
}

int Folder::RemoveFolder(const std::string &name) const {
    std::wstring child;
    if (const int bad = Child(path_, name, &child); bad != 0) return bad;
    const DWORD attributes = GetFileAttributesW(child.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return LastError();
    // A link or a junction would go as a folder does; it is not one here.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return ELOOP;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ENOTDIR;
    return RemoveDirectoryW(child.c_str()) ? 0 : LastError();
}

int Folder::Lookup(const std::string &name, FileInfo *info) const {
    *info = FileInfo{};
    std::wstring child;
    if (const int bad = Child(path_, name, &child); bad != 0) return bad;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(child.c_str(), GetFileExInfoStandard, &data)) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : ErrorNumber(error);
    }
    *info = InfoOfAttributes(data.dwFileAttributes, uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow);
    return 0;
}

int Folder::List(std::vector<FolderEntry> *entries) const {
    entries->clear();
    std::wstring pattern = Literal(Wide(path_));
    if (!pattern.empty() && !IsSeparator(pattern.back())) pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : LastError();
    }
    int error = 0;
    do {
        const std::string name = Utf8(found.cFileName, wcslen(found.cFileName));
        if (name == "." || name == "..") continue;
        entries->push_back({name, InfoOfAttributes(found.dwFileAttributes,
                                                   uint64_t(found.nFileSizeHigh) << 32 | found.nFileSizeLow)});
    } while (FindNextFileW(search, &found));
    if (GetLastError() != ERROR_NO_MORE_FILES) error = LastError();
    FindClose(search);
    return error;
}

// NTFS takes 255 UTF-16 units a name; no UTF-8 text of 255 bytes needs more.
size_t Folder::NameLimit() const { return 255; }

}  // namespace platform
