// Local file helpers of the tree commands: a file that appears whole or not
// at all, folders made on demand, a file read whole.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace dncctl {

// Written under a hidden temporary name beside its final place and renamed
// into place by Commit, so an interrupted or failed copy never leaves a file
// that looks complete (and an existing file keeps its content until then).
// Destroying it uncommitted removes the temporary file. The path "-" is
// standard output, written as it comes.
class WholeFileWriter {
public:
    // `durable`: Commit also waits until the data is on the disk (a backup
    // must survive a power cut right after it; a plain get need not pay for
    // that on every file).
    explicit WholeFileWriter(std::string path, bool durable = true);
    ~WholeFileWriter();
    WholeFileWriter(const WholeFileWriter &) = delete;
    WholeFileWriter &operator=(const WholeFileWriter &) = delete;

    bool Open();
    bool Write(const uint8_t *data, size_t length);
    bool Commit();
    const std::string &Error() const { return error_; }

private:
    bool Fail(const char *what);

    std::string path_;
    bool toStdout_;
    bool durable_;
    std::string temp_;
    FILE *file_ = nullptr;
    std::string error_;
};

// Creates `folder` and its missing parents. False with *error set when one
// cannot be made (a file in the way, no permission).
bool MakeFolders(const std::string &folder, std::string *error);

// The whole content of a regular local file of at most 2 GiB - 1 bytes (the
// controller's sizes are signed 32-bit). False with *error set.
bool ReadWholeFile(const std::string &path, std::vector<uint8_t> *bytes, std::string *error);

}  // namespace dncctl
