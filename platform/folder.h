// A folder of this computer reached only from a directory already open: a
// name inside it is never followed through a link (or, on Windows, any
// reparse point), so nothing that starts inside the folder can reach out of
// it. The simulator's storage sits on it. Names are single path components.
// Errors are errno values: ENOENT missing, ENOTDIR not a directory, EISDIR a
// directory, ELOOP a link, EINVAL neither file nor directory (device, pipe),
// EFBIG over the size limit, EEXIST already there, ENOTEMPTY not empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// An open directory; only this layer looks inside.
struct Folder;

enum class FolderEntryKind : uint8_t { kFile, kDirectory, kLink, kOther };

struct FolderEntry {
    std::string name;
    FolderEntryKind kind;
    uint64_t size;  // files only
};

// Opens a directory by its path (links in the path itself are followed).
int FolderOpen(const char *path, Folder **folder);
// Opens the directory `name` inside `parent`.
int FolderOpenChild(Folder *parent, const char *name, Folder **child);
// A second, independent handle on the same directory.
int FolderReopen(Folder *folder, Folder **again);
void FolderClose(Folder *folder);

// What `name` is, the link itself when it is one.
int FolderStat(Folder *folder, const char *name, FolderEntryKind *kind, uint64_t *size);
// Every entry but "." and "..", in no particular order.
int FolderList(Folder *folder, std::vector<FolderEntry> &entries);
// A regular file whole; EFBIG when it holds more than `maxSize` bytes.
int FolderReadFile(Folder *folder, const char *name, uint64_t maxSize, std::vector<uint8_t> &data);
// Writes the data beside `name` under a name no listing shows, then renames
// it over `name`: the old file stays whole until the new one is complete.
int FolderReplaceFile(Folder *folder, const char *name, const uint8_t *data, size_t size);
int FolderRemoveFile(Folder *folder, const char *name);
int FolderMakeDirectory(Folder *folder, const char *name);
int FolderRemoveDirectory(Folder *folder, const char *name);

}  // namespace platform
