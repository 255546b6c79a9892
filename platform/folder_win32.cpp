#include "platform/folder.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace platform {

// Windows hands out no handle to open names beneath: a folder is its full
// path in the \\?\ form, which also keeps names such as CON or NUL from
// meaning devices. Each name is checked for a reparse point (link, junction)
// before it is used.
struct Folder {
    std::wstring path;
};

namespace {

int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EACCES;
        case ERROR_ALREADY_EXISTS:
        case ERROR_FILE_EXISTS:
            return EEXIST;
        case ERROR_DIR_NOT_EMPTY:
            return ENOTEMPTY;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        default:
            return EIO;
    }
}

int LastErrno() { return ErrnoOf(GetLastError()); }

// Paths come as UTF-8, as the command line gives them.
std::wstring Wide(const char *text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), n);
    wide.resize(static_cast<size_t>(n - 1));
    return wide;
}

std::string Narrow(const wchar_t *text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string narrow(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), n, nullptr, nullptr);
    narrow.resize(static_cast<size_t>(n - 1));
    return narrow;
}

std::wstring Inside(const Folder *folder, const char *name) { return folder->path + L"\\" + Wide(name); }

FolderEntryKind KindOf(DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return FolderEntryKind::kLink;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return FolderEntryKind::kDirectory;
    if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) return FolderEntryKind::kOther;
    return FolderEntryKind::kFile;
}

int Attributes(const std::wstring &path, WIN32_FILE_ATTRIBUTE_DATA *data) {
    return GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, data) ? 0 : LastErrno();
}

unsigned tempCounter = 0;

}  // namespace

int FolderOpen(const char *path, Folder **folder) {
    const std::wstring given = Wide(path);
    if (given.empty()) return ENOENT;
    const DWORD n = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    if (n == 0) return LastErrno();
    std::wstring full(n, L'\0');
    const DWORD written = GetFullPathNameW(given.c_str(), n, full.data(), nullptr);
    if (written == 0 || written >= n) return LastErrno();
    full.resize(written);
    while (full.size() > 3 && full.back() == L'\\') full.pop_back();
    if (full.rfind(L"\\\\?\\", 0) != 0) {
        full = full.rfind(L"\\\\", 0) == 0 ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
    }
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (const int error = Attributes(full, &data); error != 0) return error;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ENOTDIR;
    *folder = new Folder{full};
    return 0;
}

int FolderOpenChild(Folder *parent, const char *name, Folder **child) {
    const std::wstring path = Inside(parent, name);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (const int error = Attributes(path, &data); error != 0) return error;
    switch (KindOf(data.dwFileAttributes)) {
        case FolderEntryKind::kLink:
            return ELOOP;
        case FolderEntryKind::kDirectory:
            *child = new Folder{path};
            return 0;
        default:
            return ENOTDIR;
    }
}

int FolderReopen(Folder *folder, Folder **again) {
    *again = new Folder{folder->path};
    return 0;
}

void FolderClose(Folder *folder) { delete folder; }

int FolderStat(Folder *folder, const char *name, FolderEntryKind *kind, uint64_t *size) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (const int error = Attributes(Inside(folder, name), &data); error != 0) return error;
    *kind = KindOf(data.dwFileAttributes);
    *size = *kind == FolderEntryKind::kFile ? (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow : 0;
    return 0;
}

int FolderList(Folder *folder, std::vector<FolderEntry> &entries) {
    entries.clear();
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileExW((folder->path + L"\\*").c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : LastErrno();
    }
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const FolderEntryKind kind = KindOf(found.dwFileAttributes);
        const uint64_t size =
            kind == FolderEntryKind::kFile ? (uint64_t(found.nFileSizeHigh) << 32) | found.nFileSizeLow : 0;
        entries.push_back({Narrow(found.cFileName), kind, size});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return 0;
}

int FolderReadFile(Folder *folder, const char *name, uint64_t maxSize, std::vector<uint8_t> &data) {
    const std::wstring path = Inside(folder, name);
    FolderEntryKind kind{};
    uint64_t size = 0;
    if (const int error = FolderStat(folder, name, &kind, &size); error != 0) return error;
    if (kind == FolderEntryKind::kLink) return ELOOP;
    if (kind == FolderEntryKind::kDirectory) return EISDIR;
    if (kind != FolderEntryKind::kFile) return EINVAL;
    // Not following a reparse point put there since the look above.
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return LastErrno();
    int error = 0;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) {
        error = LastErrno();
    } else if (GetFileType(file) != FILE_TYPE_DISK || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        error = EINVAL;
    } else if (((uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow) > maxSize) {
        error = EFBIG;
    } else {
        data.resize((size_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
        size_t got = 0;
        while (got < data.size()) {
            DWORD n = 0;
            const DWORD want = static_cast<DWORD>(std::min<size_t>(data.size() - got, 1u << 20));
            if (!::ReadFile(file, data.data() + got, want, &n, nullptr)) {
                error = LastErrno();
                break;
            }
            if (n == 0) break;  // shrank while we read: serve what is there
            got += n;
        }
        data.resize(got);
    }
    CloseHandle(file);
    return error;
}

int FolderReplaceFile(Folder *folder, const char *name, const uint8_t *data, size_t size) {
    const std::wstring temp = folder->path + L"\\.ncsim-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(++tempCounter) + L".part";
    const HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return LastErrno();
    int error = 0;
    size_t written = 0;
    while (written < size) {
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(size - written, 1u << 20));
        if (!WriteFile(file, data + written, want, &n, nullptr)) {
            error = LastErrno();
            break;
        }
        written += n;
    }
    if (!CloseHandle(file) && error == 0) error = LastErrno();
    if (error == 0 && !MoveFileExW(temp.c_str(), Inside(folder, name).c_str(), MOVEFILE_REPLACE_EXISTING)) {
        error = LastErrno();
    }
    if (error != 0) DeleteFileW(temp.c_str());
    return error;
}

int FolderRemoveFile(Folder *folder, const char *name) {
    return DeleteFileW(Inside(folder, name).c_str()) ? 0 : LastErrno();
}

int FolderMakeDirectory(Folder *folder, const char *name) {
    return CreateDirectoryW(Inside(folder, name).c_str(), nullptr) ? 0 : LastErrno();
}

int FolderRemoveDirectory(Folder *folder, const char *name) {
    return RemoveDirectoryW(Inside(folder, name).c_str()) ? 0 : LastErrno();
}

}  // namespace platform
