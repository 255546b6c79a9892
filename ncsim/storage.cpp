#include "ncsim/storage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "nccmd/nc_protocol.h"

namespace ncsim {
namespace {

constexpr size_t kMaxNamePart = nccmd::kListingNameSize - 1;  // 8
constexpr size_t kMaxExtPart = nccmd::kListingExtSize - 1;    // 5

// Closes a directory when it goes out of scope.
struct FolderGuard {
    platform::Folder *folder;
    ~FolderGuard() { platform::FolderClose(folder); }
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

Storage::~Storage() { platform::FolderClose(root_); }

bool Storage::Open(const std::string &root) {
    platform::FolderClose(root_);
    root_ = nullptr;
    if (const int error = platform::FolderOpen(root.c_str(), &root_); error != 0) {
        root_ = nullptr;
        errno = error;
        return false;
    }
    return true;
}

StorageStatus Storage::Fail(int error) {
    lastErrno_ = error;
    return StorageStatus::Failed;
}

Storage::Parent::~Parent() { platform::FolderClose(folder); }

platform::Folder *Storage::Parent::Release() {
    platform::Folder *released = folder;
    folder = nullptr;
    return released;
}

StorageStatus Storage::OpenParent(std::string_view path, Parent &parent) {
    std::vector<std::string> names;
    if (!SplitPath(path, names)) return StorageStatus::BadPath;
    if (root_ == nullptr) return Fail(EBADF);
    platform::Folder *folder = nullptr;
    if (const int error = platform::FolderReopen(root_, &folder); error != 0) return Fail(error);
    for (size_t i = 0; i + 1 < names.size(); ++i) {
        platform::Folder *next = nullptr;
        const int error = platform::FolderOpenChild(folder, names[i].c_str(), &next);
        platform::FolderClose(folder);
        if (error != 0) {
            lastErrno_ = error;
            return StatusOfOpenError(error);
        }
        folder = next;
    }
    parent.folder = folder;
    parent.name = names.empty() ? std::string() : names.back();
    return StorageStatus::Ok;
}

StorageStatus Storage::OpenDirectory(std::string_view path, platform::Folder **folder) {
    Parent parent;
    const StorageStatus status = OpenParent(path, parent);
    if (status != StorageStatus::Ok) return status;
    if (parent.name.empty()) {
        *folder = parent.Release();
        return StorageStatus::Ok;
    }
    if (const int error = platform::FolderOpenChild(parent.folder, parent.name.c_str(), folder); error != 0) {
        lastErrno_ = error;
        return error == ENOTDIR ? StorageStatus::NotDirectory : StatusOfOpenError(error);
    }
    return StorageStatus::Ok;
}

StorageStatus Storage::List(std::string_view path, std::vector<uint8_t> &entries) {
    platform::Folder *folder = nullptr;
    const StorageStatus status = OpenDirectory(path, &folder);
    if (status != StorageStatus::Ok) return status;
    FolderGuard guard{folder};
    std::vector<platform::FolderEntry> all;
    if (const int error = platform::FolderList(folder, all); error != 0) return Fail(error);
    std::vector<Entry> found;
    for (const platform::FolderEntry &e : all) {
        // Names that do not fit an entry cannot be shown or addressed.
        if (!FitsListingEntry(e.name)) continue;
        if (e.kind == platform::FolderEntryKind::kDirectory) {
            found.push_back({true, e.name, 0});
        } else if (e.kind == platform::FolderEntryKind::kFile && e.size <= UINT32_MAX) {
            found.push_back({false, e.name, static_cast<uint32_t>(e.size)});
        }
    }
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
    const int error = platform::FolderReadFile(parent.folder, parent.name.c_str(), kMaxFileSize, data);
    switch (error) {
        case 0:
            return StorageStatus::Ok;
        case EISDIR:
            return StorageStatus::IsDirectory;
        case EINVAL:
            return StorageStatus::BadPath;  // devices, pipes: never read
        case EFBIG:
            return StorageStatus::TooLarge;
        case ENOENT:
        case ENOTDIR:
        case ELOOP:
            lastErrno_ = error;
            return StatusOfOpenError(error);
        default:
            return Fail(error);
    }
}

StorageStatus Storage::CheckFileName(const Parent &parent, bool mayBeMissing) {
    if (parent.name.empty()) return StorageStatus::IsDirectory;
    platform::FolderEntryKind kind{};
    uint64_t size = 0;
    if (const int error = platform::FolderStat(parent.folder, parent.name.c_str(), &kind, &size); error != 0) {
        lastErrno_ = error;
        return error == ENOENT && mayBeMissing ? StorageStatus::Ok : StatusOfOpenError(error);
    }
    if (kind == platform::FolderEntryKind::kDirectory) return StorageStatus::IsDirectory;
    if (kind != platform::FolderEntryKind::kFile) return StorageStatus::BadPath;  // links, devices, pipes
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
    // leaves it as it was. The new one is written under a name starting with
    // a dot, which is never listed.
    if (const int error = platform::FolderReplaceFile(parent.folder, parent.name.c_str(), data.data(), data.size());
        error != 0) {
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
    if (const int error = platform::FolderRemoveFile(parent.folder, parent.name.c_str()); error != 0) {
        return Fail(error);
    }
    return StorageStatus::Ok;
}

StorageStatus Storage::CreateDir(std::string_view path) {
    Parent parent;
    const StorageStatus status = OpenParent(path, parent);
    if (status != StorageStatus::Ok) return status;
    if (parent.name.empty()) return StorageStatus::Exists;
    if (const int error = platform::FolderMakeDirectory(parent.folder, parent.name.c_str()); error != 0) {
        if (error == EEXIST) return StorageStatus::Exists;
        return Fail(error);
    }
    return StorageStatus::Ok;
}

StorageStatus Storage::DeleteDir(std::string_view path) {
    Parent parent;
    const StorageStatus status = OpenParent(path, parent);
    if (status != StorageStatus::Ok) return status;
    if (parent.name.empty()) return StorageStatus::BadPath;  // the root stays
    platform::FolderEntryKind kind{};
    uint64_t size = 0;
    if (const int error = platform::FolderStat(parent.folder, parent.name.c_str(), &kind, &size); error != 0) {
        lastErrno_ = error;
        return StatusOfOpenError(error);
    }
    if (kind == platform::FolderEntryKind::kLink) return StorageStatus::BadPath;
    if (kind != platform::FolderEntryKind::kDirectory) return StorageStatus::NotDirectory;
    if (const int error = platform::FolderRemoveDirectory(parent.folder, parent.name.c_str()); error != 0) {
        if (error == ENOTEMPTY) return StorageStatus::NotEmpty;
        return Fail(error);
    }
    return StorageStatus::Ok;
}

}  // namespace ncsim
