// Local files reached safely. A folder the user named is held open, and
// everything below it is reached relative to it one name at a time without
// following links, so neither a link planted in a backup folder nor one
// swapped in while dncctl runs can lead a read or a write elsewhere. Files
// are opened without blocking and checked to be regular files before a byte
// is read, so a FIFO or a device never holds a command up.
#pragma once

#include <cstdint>
#include <string>

#include "platform/files.h"

namespace dncctl {

// A regular file opened for reading, with its size.
struct RegularFile {
    platform::File file;
    uint64_t size = 0;
};

// Opens the file the user named (links on the way are the user's own
// choice and are followed). Anything but a regular file is refused without
// waiting: *error says what it is.
bool OpenRegularFile(const std::string &path, RegularFile *file, std::string *error);

// Reads exactly `length` bytes unless the file ends first; the number read,
// or -1 on a read error (its number in *error when given).
int64_t ReadFully(platform::File &file, void *buffer, size_t length, int *error = nullptr);

// What a path component turned out to be when it could not be used.
std::string DescribeEntry(const platform::Folder &folder, const std::string &name);

class LocalFolder {
public:
    LocalFolder() = default;

    // The folder the user named, links followed: it is where they pointed.
    static bool Open(const std::string &path, LocalFolder *folder, std::string *error);

    // The folder `relative` below this one ('/' between names); every name
    // is opened without following links, and with `create` the missing ones
    // are made. A link, or a file where a folder should be, fails naming it.
    bool Descend(const std::string &relative, bool create, LocalFolder *folder, std::string *error) const;

    // The regular file `relative` below this one, reached the same way.
    bool OpenFile(const std::string &relative, RegularFile *file, std::string *error) const;

    const platform::Folder &Handle() const { return folder_; }
    const std::string &Path() const { return path_; }
    bool Valid() const { return folder_.IsOpen(); }

    // Path() + "/" + relative, for messages.
    std::string Shown(const std::string &relative) const;

private:
    platform::Folder folder_;
    std::string path_;
};

}  // namespace dncctl
