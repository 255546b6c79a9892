// The controller's storage: a folder of this computer, reached only through
// directories opened beneath its root. Remote paths use "\" between names;
// every name must fit a listing entry (8.3) and links are never followed, so
// no request can read, write or list anything outside the root.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace ncsim {

enum class StorageStatus {
    Ok,
    BadPath,       // "..", a link, a name that does not fit an entry
    NotFound,      // missing file or directory
    IsDirectory,   // a file operation named a directory
    NotDirectory,  // a directory operation named a file
    NotEmpty,      // directory still holds entries
    Exists,        // create of something that is there
    TooLarge,      // file beyond what the protocol can announce or we buffer
    Failed,        // the system refused (errno kept in lastErrno)
};

// True when `name` fits a listing entry: up to 8 characters, optionally a dot
// and up to 5 more, printable ASCII, not starting with a dot.
bool FitsListingEntry(std::string_view name);

class Storage {
public:
    // Files larger than this are neither served nor accepted.
    static constexpr uint64_t kMaxFileSize = 64u * 1024 * 1024;

    Storage() = default;
    Storage(const Storage &) = delete;
    Storage &operator=(const Storage &) = delete;

    // Opens the root folder. False (errno set) when it is not a directory.
    bool Open(const std::string &root);
    // Lets go of the root folder, which Windows keeps from being renamed or
    // removed while it is held.
    void Close();

    // The directory's entries as 20-byte listing entries, directories first.
    StorageStatus List(std::string_view path, std::vector<uint8_t> &entries);
    StorageStatus ReadFile(std::string_view path, std::vector<uint8_t> &data);
    // Checks that `path` names a file that WriteFile could create or replace.
    StorageStatus CheckWritable(std::string_view path);
    // Replaces the file as a whole: written beside it, then renamed over it.
    StorageStatus WriteFile(std::string_view path, const std::vector<uint8_t> &data);
    StorageStatus DeleteFile(std::string_view path);
    StorageStatus CreateDir(std::string_view path);
    StorageStatus DeleteDir(std::string_view path);

    int LastErrno() const { return lastErrno_; }

private:
    // The open directory that holds a path's last name, and that name (empty
    // for the root itself).
    struct Parent {
        platform::Folder folder;
        std::string name;
    };
    StorageStatus OpenParent(std::string_view path, Parent &parent);
    StorageStatus OpenDirectory(std::string_view path, platform::Folder &folder);
    // Whether the parent's name is a regular file (or, with mayBeMissing, not
    // there at all): the only things files may replace.
    StorageStatus CheckFileName(const Parent &parent, bool mayBeMissing);
    StorageStatus Fail(int error);

    platform::Folder root_;
    int lastErrno_ = 0;
    unsigned writes_ = 0;  // numbers the temporary names
};

}  // namespace ncsim
