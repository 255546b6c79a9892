#include "cli/local_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace dncctl {

namespace {

constexpr const char *kTempMark = ".dncctl-";
constexpr size_t kSuffixLength = 6;

std::string RandomSuffix() {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static std::mt19937 random{std::random_device{}()};
    std::string suffix;
    for (size_t i = 0; i < kSuffixLength; ++i) suffix += kChars[random() % (sizeof kChars - 1)];
    return suffix;
}

}  // namespace

WholeFileWriter::WholeFileWriter(std::string path, bool durable)
    : shown_(std::move(path)), toStdout_(shown_ == "-"), durable_(durable), refuseLinks_(false) {
    const std::string parent = platform::ParentPath(shown_);
    folderPath_ = parent.empty() ? "." : parent;
    name_ = platform::FileName(shown_);
}

WholeFileWriter::WholeFileWriter(const LocalFolder &folder, std::string name, bool durable)
    : shown_(folder.Shown(name)), name_(std::move(name)), toStdout_(false), durable_(durable), refuseLinks_(true) {
    folder.Handle().Duplicate(&folder_);
}

WholeFileWriter::~WholeFileWriter() {
    file_.Close();
    if (!temp_.empty() && folder_.IsOpen()) folder_.Remove(temp_);
}

bool WholeFileWriter::FailWith(const std::string &text) {
    if (error_.empty()) error_ = text;
    return false;
}

bool WholeFileWriter::Fail(const char *what, int error) {
    return FailWith(std::string(what) + " " + (toStdout_ ? "standard output" : shown_) + ": " +
                    platform::ErrorText(error));
}

std::string WholeFileWriter::TemporaryName(const std::string &name, const std::string &suffix, size_t nameLimit) {
    const size_t fixed = 1 + std::strlen(kTempMark) + suffix.size();
    size_t keep = nameLimit > fixed ? std::min(name.size(), nameLimit - fixed) : 0;
    // Never half a UTF-8 character: the cut name must still be text.
    while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    return "." + name.substr(0, keep) + kTempMark + suffix;
}

bool WholeFileWriter::Open() {
    if (toStdout_) {
        return true;
    }
    if (!folder_.IsOpen()) {
        if (const int failed = platform::Folder::Open(folderPath_, &folder_); failed != 0) {
            return Fail("cannot create", failed);
        }
    }
    const size_t nameLimit = folder_.NameLimit();
    int failed = EEXIST;
    for (int attempt = 0; attempt < 100 && failed == EEXIST; ++attempt) {
        temp_ = TemporaryName(name_, RandomSuffix(), nameLimit);
        // Never through a link, never onto something already there.
        failed = folder_.CreateNew(temp_, &file_);
    }
    if (failed != 0) {
        temp_.clear();
        return Fail("cannot create", failed);
    }
    return true;
}

bool WholeFileWriter::Write(const uint8_t *data, size_t length) {
    if (length == 0) return true;
    if (toStdout_) return std::fwrite(data, 1, length, stdout) == length || Fail("cannot write", errno);
    const int failed = file_.WriteAll(data, length);
    return failed == 0 || Fail("cannot write", failed);
}

bool WholeFileWriter::Commit() {
    if (toStdout_) return std::fflush(stdout) == 0 || Fail("cannot write", errno);
    if (durable_) {
        if (const int failed = file_.Sync(); failed != 0) {
            file_.Close();
            return Fail("cannot write", failed);
        }
    }
    if (const int failed = file_.Close(); failed != 0) return Fail("cannot write", failed);
    if (refuseLinks_) {
        const std::string kind = DescribeEntry(folder_, name_);
        if (kind == "a link") return FailWith(shown_ + ": a link, not replaced nor written through");
        if (kind == "a folder") return FailWith(shown_ + " is a folder where a file should be");
    }
    if (const int failed = folder_.Replace(temp_, name_); failed != 0) return Fail("cannot create", failed);
    temp_.clear();
    return true;
}

}  // namespace dncctl
