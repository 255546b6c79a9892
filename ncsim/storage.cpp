#include "ncsim/storage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "nccmd/nc_protocol.h"
#include "platform/app_paths.h"

namespace ncsim {
namespace {

constexpr size_t kMaxNamePart = nccmd::kListingNameSize - 1;  // 8
constexpr size_t kMaxExtPart = nccmd::kListingExtSize - 1;    // 5

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

bool Storage::Open(const std::string &root) {
    root_ = platform::Folder();
    if (const int error = platform::Folder::Open(root, &root_); error != 0) {
        root_ = platform::Folder();
        errno = error;
        return false;
    }
    return true;
}

void Storage::Close() { root_ = platform::Folder(); }

StorageStatus Storage::Fail(int error) {
    lastErrno_ = error;
    return StorageStatus::Failed;
}

StorageStatus Storage::OpenParent(std::string_view path, Parent &parent) {
    std::vector<std::string> names;
    if (!SplitPath(path, names)) return StorageStatus::BadPath;
    if (!root_.IsOpen()) return Fail(EBADF);
    platform::Folder folder;
    if (const int error = root_.Duplicate(&folder); error != 0) return Fail(error);
    for (size_t i = 0; i + 1 < names.size(); ++i) {
        platform::Folder next;
        if (const int error = folder.OpenFolder(names[i], &next); error != 0) {
            lastErrno_ = error;
            return StatusOfOpenError(error);
        }
        folder = std::move(next);
    }
    parent.folder = std::move(folder);
    parent.name = names.empty() ? std::string() : names.back();
    return StorageStatus::Ok;
}

StorageStatus Storage::OpenDirectory(std::string_view path, platform::Folder &folder) {
    Parent parent;
    const StorageStatus status = OpenParent(path, parent);
    if (status != StorageStatus::Ok) return status;
    if (parent.name.empty()) {
        folder = std::move(parent.folder);
        return StorageStatus::Ok;
    }
    if (const int error = parent.folder.OpenFolder(parent.name, &folder); error != 0) {
        lastErrno_ = error;
        return error == ENOTDIR ? StorageStatus::NotDirectory : StatusOfOpenError(error);
    }
    return StorageStatus::Ok;
}

StorageStatus Storage::List(std::string_view path, std::vector<uint8_t> &entries) {
    platform::Folder folder;
    const StorageStatus status = OpenDirectory(path, folder);
    if (status != StorageStatus::Ok) return status;
    std::vector<platform::FolderEntry> all;
    if (const int error = folder.List(&all); error != 0) return Fail(error);
    std::vector<Entry> found;
    for (const platform::FolderEntry &e : all) {
        // Names that do not fit an entry cannot be shown or addressed.
        if (!FitsListingEntry(e.name)) continue;
        if (e.info.kind == platform::FileKind::kFolder) {
            found.push_back({true, e.name, 0});
        } else if (e.info.kind == platform::FileKind::kFile && e.info.size <= UINT32_MAX) {
            found.push_back({false, e.name, static_cast<uint32_t>(e.info.size)});
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
    // Opened without following a link and without waiting on a pipe; what
    // it is decides whether a byte is read.
    platform::File file;
    if (const int error = parent.folder.OpenFile(parent.name, &file); error != 0) {
        lastErrno_ = error;
        switch (error) {
            case ENOENT:
            case ENOTDIR:
            case ELOOP:
                return StatusOfOpenError(error);
            default:
                return Fail(error);
        }
    }
    platform::FileInfo info;
    if (const int error = file.Info(&info); error != 0) return Fail(error);
    if (info.kind == platform::FileKind::kFolder) return StorageStatus::IsDirectory;
    if (info.kind != platform::FileKind::kFile) return StorageStatus::BadPath;  // devices, pipes: never read
    if (info.size > kMaxFileSize) return StorageStatus::TooLarge;
    data.resize(static_cast<size_t>(info.size));
    int error = 0;
    const int64_t got = file.ReadFully(data.data(), data.size(), &error);
    if (got < 0) return Fail(error);
    data.resize(static_cast<size_t>(got));  // shrank while we read: serve what is there
    return StorageStatus::Ok;
}

StorageStatus Storage::CheckFileName(const Parent &parent, bool mayBeMissing) {
    if (parent.name.empty()) return StorageStatus::IsDirectory;
    platform::FileInfo info;
    if (const int error = parent.folder.Lookup(parent.name, &info); error != 0) {
        lastErrno_ = error;
        return StatusOfOpenError(error);
    }
    switch (info.kind) {
        case platform::FileKind::kMissing:
            lastErrno_ = ENOENT;
            return mayBeMissing ? StorageStatus::Ok : StorageStatus::NotFound;
        case platform::FileKind::kFile:
            return StorageStatus::Ok;
        case platform::FileKind::kFolder:
            return StorageStatus::IsDirectory;
        default:
            return StorageStatus::BadPath;  // links, devices, pipes
    }
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
    // a dot, which is never listed nor reachable by a request. A name left
    // taken (by a process that stopped halfway and had this one's number) is
    // passed over, never written into.
    platform::File file;
    std::string temp;
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
        temp = ".ncsim-" + std::to_string(platform::ProcessId()) + "-" + std::to_string(++writes_) + ".part";
        error = parent.folder.CreateNew(temp, &file);
    }
    if (error != 0) return Fail(error);
    error = file.WriteAll(data.data(), data.size());
    if (error == 0) error = file.Sync();
    if (const int closed = file.Close(); error == 0) error = closed;
    if (error == 0) error = parent.folder.Replace(temp, parent.name);
    if (error != 0) {
        parent.folder.Remove(temp);
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
    if (const int error = parent.folder.Remove(parent.name); error != 0) return Fail(error);
    return StorageStatus::Ok;
}

StorageStatus Storage::CreateDir(std::string_view path) {
    Parent parent;
    const StorageStatus status = OpenParent(path, parent);
    if (status != StorageStatus::Ok) return status;
    if (parent.name.empty()) return StorageStatus::Exists;
    if (const int error = parent.folder.MakeFolder(parent.name); error != 0) {
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
    platform::FileInfo info;
    if (const int error = parent.folder.Lookup(parent.name, &info); error != 0) {
        lastErrno_ = error;
        return StatusOfOpenError(error);
    }
    if (info.kind == platform::FileKind::kMissing) {
        lastErrno_ = ENOENT;
        return StorageStatus::NotFound;
    }
    if (info.kind == platform::FileKind::kLink) return StorageStatus::BadPath;
    if (info.kind != platform::FileKind::kFolder) return StorageStatus::NotDirectory;
    if (const int error = parent.folder.RemoveFolder(parent.name); error != 0) {
        if (error == ENOTEMPTY) return StorageStatus::NotEmpty;
        if (error == ELOOP) return StorageStatus::BadPath;  // swapped for a link meanwhile
        return Fail(error);
    }
    return StorageStatus::Ok;
}

}  // namespace ncsim
