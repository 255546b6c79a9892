// Local file helpers of the commands that write files: a file that appears
// whole or not at all, written beside its final place.
#pragma once

#include <cstdint>
#include <string>

#include "cli/local_folder.h"

namespace dncctl {

// Written under a hidden temporary name beside its final place and renamed
// into place by Commit, so an interrupted or failed copy never leaves a file
// that looks complete (and an existing file keeps its content until then).
// Destroying it uncommitted removes the temporary file. The path "-" is
// standard output, written as it comes.
class WholeFileWriter {
public:
    // A file the user named: the folders on its path are the user's
    // choice; a link at the name itself is replaced, never written through.
    // `durable`: Commit also waits until the data is on the disk (a backup
    // must survive a power cut right after it; a plain get need not pay for
    // that on every file).
    explicit WholeFileWriter(std::string path, bool durable = true);
    // The file `name` inside `folder` (a backup's): a link or a folder found
    // at the name is refused and left as it is.
    WholeFileWriter(const LocalFolder &folder, std::string name, bool durable = true);
    ~WholeFileWriter();
    WholeFileWriter(const WholeFileWriter &) = delete;
    WholeFileWriter &operator=(const WholeFileWriter &) = delete;

    bool Open();
    bool Write(const uint8_t *data, size_t length);
    bool Commit();
    const std::string &Error() const { return error_; }

    // The hidden temporary name for `name`, within `nameLimit` bytes (the
    // file system's limit on one name); `suffix` makes it unique.
    static std::string TemporaryName(const std::string &name, const std::string &suffix, size_t nameLimit);

private:
    bool Fail(const char *what, int error);
    bool FailWith(const std::string &text);

    std::string shown_;  // for messages
    std::string name_;   // inside the folder
    bool toStdout_;
    bool durable_;
    bool refuseLinks_;
    platform::Folder folder_;
    std::string folderPath_;  // opened by Open when folder_ is not given
    std::string temp_;
    platform::File file_;
    std::string error_;
};

}  // namespace dncctl
