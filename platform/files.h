// Local files and folders, alike on every system. Paths are UTF-8 text with
// '/' between names ('\' too on Windows); every file is binary. Each call
// answers with an error number: 0 for success, else an errno value (ENOENT,
// EACCES, ELOOP, ...), Windows' own codes mapped to the nearest one, so the
// messages built on them read alike everywhere. ErrorText gives the words.
//
// Two ways to reach a file:
// - by a path the user typed: links on it are the user's choice and are
//   followed, unless Links::kRefuse says the last name must not be one;
// - through a Folder held open, one name at a time, never following a link
//   (POSIX: the *at calls with O_NOFOLLOW; Windows: a handle on each folder
//   that keeps it from being renamed or removed, and reparse points
//   refused). Nothing planted or swapped in below the folder can lead a read
//   or a write elsewhere.
// Opens never wait: a FIFO or a device is opened without blocking, and the
// caller asks Info() what it got before reading a byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

enum class FileKind { kMissing, kFile, kFolder, kLink, kFifo, kDevice, kSocket, kOther };

struct FileInfo {
    FileKind kind = FileKind::kMissing;
    uint64_t size = 0;  // files only
};

// The system's words for an error number.
std::string ErrorText(int error);

// An open file, closed when it goes.
class File {
public:
    File() = default;
    ~File();
    File(File &&other) noexcept;
    File &operator=(File &&other) noexcept;
    File(const File &) = delete;
    File &operator=(const File &) = delete;

    bool IsOpen() const;
    int Info(FileInfo *info) const;

    // One read of up to `length` bytes: the count (0 at the end), or -1 with
    // *error set.
    int64_t Read(void *buffer, size_t length, int *error);
    // Reads until `length` bytes or the end: the count, or -1 with *error.
    int64_t ReadFully(void *buffer, size_t length, int *error);
    // One write: the count written, or -1 with *error. A file opened by
    // OpenForAppend takes each write whole at its end.
    int64_t Write(const void *data, size_t length, int *error);
    int WriteAll(const void *data, size_t length);
    // Back to the first byte.
    int Rewind();
    // Until the data is on the disk.
    int Sync();
    // Closes now; the error a close reports (a write the system deferred).
    int Close();

private:
    friend struct FileAccess;
    intptr_t native_ = -1;  // a descriptor on POSIX, a HANDLE on Windows
};

enum class Links { kFollow, kRefuse };

// Opens `path` for reading. With Links::kRefuse a link at the last name
// fails with ELOOP.
int OpenForReading(const std::string &path, Links links, File *file);

// Opens `path` for appending, created (readable by all) when missing.
int OpenForAppend(const std::string &path, File *file);

// What `path` is; a missing path is kind kMissing with result 0.
int Stat(const std::string &path, Links links, FileInfo *info);

// Makes the folder `path` and the missing folders above it. An existing
// folder is fine; anything else there is EEXIST.
int MakeFolders(const std::string &path);

// The folder part of `path` ("" when it has none); the system's separators.
std::string ParentPath(const std::string &path);

// The last name of `path` ("" when it ends in a separator).
std::string FileName(const std::string &path);

// `path` made absolute (links resolved where the system does), or as it is
// when that fails.
std::string AbsolutePath(const std::string &path);

struct FolderEntry {
    std::string name;
    FileInfo info;  // of the entry itself: a link is kLink, never its target
};

// A folder held open; see the top of the file.
class Folder {
public:
    Folder() = default;
    ~Folder();
    Folder(Folder &&other) noexcept;
    Folder &operator=(Folder &&other) noexcept;
    Folder(const Folder &) = delete;
    Folder &operator=(const Folder &) = delete;

    // The folder the user named, links followed.
    static int Open(const std::string &path, Folder *folder);
    bool IsOpen() const;
    // A second handle on the same folder.
    int Duplicate(Folder *copy) const;

    // The folder `name` inside this one. A link fails with ELOOP, anything
    // but a folder with ENOTDIR.
    int OpenFolder(const std::string &name, Folder *folder) const;
    // Makes the folder `name`; EEXIST when anything has that name.
    int MakeFolder(const std::string &name) const;
    // The file `name` for reading; a link fails with ELOOP.
    int OpenFile(const std::string &name, File *file) const;
    // A new file `name` for writing; EEXIST when anything (a dangling link
    // included) has that name.
    int CreateNew(const std::string &name, File *file) const;
    // Renames `from` to `to`, replacing a file (or a link itself) at `to`
    // in one step: a reader sees the old file or the new one, never neither.
    // Windows writes the rename through to the disk before it returns.
    int Replace(const std::string &from, const std::string &to) const;
    // Removes the file or link `name`.
    int Remove(const std::string &name) const;
    // Removes the folder `name` when it is empty: ENOTEMPTY when it holds
    // anything, ENOTDIR for a file, ELOOP for a link (neither it nor what it
    // leads to is touched).
    int RemoveFolder(const std::string &name) const;
    // What `name` is, links not followed.
    int Lookup(const std::string &name, FileInfo *info) const;
    // Every entry but "." and "..", in no particular order.
    int List(std::vector<FolderEntry> *entries) const;
    // The longest name, in bytes, the folder takes.
    size_t NameLimit() const;

private:
    friend struct FolderAccess;
    intptr_t native_ = -1;
    std::string path_;  // Windows reaches names by path below the handle
};

}  // namespace platform
