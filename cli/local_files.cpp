#include "cli/local_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <random>

namespace dncctl {

namespace {

constexpr const char *kTempMark = ".dncctl-";
constexpr size_t kSuffixLength = 6;

std::string RandomSuffix() {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static std::mt19937 random{std::random_device{}() ^ static_cast<unsigned>(getpid())};
    std::string suffix;
    for (size_t i = 0; i < kSuffixLength; ++i) suffix += kChars[random() % (sizeof kChars - 1)];
    return suffix;
}

}  // namespace

WholeFileWriter::WholeFileWriter(std::string path, bool durable)
    : shown_(std::move(path)), toStdout_(shown_ == "-"), durable_(durable), refuseLinks_(false) {
    const size_t slash = shown_.rfind('/');
    folderPath_ = slash == std::string::npos ? "." : slash == 0 ? "/" : shown_.substr(0, slash);
    name_ = slash == std::string::npos ? shown_ : shown_.substr(slash + 1);
}

WholeFileWriter::WholeFileWriter(const LocalFolder &folder, std::string name, bool durable)
    : shown_(folder.Shown(name)), name_(std::move(name)), toStdout_(false), durable_(durable), refuseLinks_(true),
      folder_(::dup(folder.Fd())) {}

WholeFileWriter::~WholeFileWriter() {
    if (file_ != nullptr && file_ != stdout) std::fclose(file_);
    if (!temp_.empty() && folder_.Valid()) unlinkat(folder_.Get(), temp_.c_str(), 0);
}

bool WholeFileWriter::FailWith(const std::string &text) {
    if (error_.empty()) error_ = text;
    return false;
}

bool WholeFileWriter::Fail(const char *what) {
    return FailWith(std::string(what) + " " + (toStdout_ ? "standard output" : shown_) + ": " + std::strerror(errno));
}

std::string WholeFileWriter::TemporaryName(const std::string &name, const std::string &suffix, size_t nameLimit) {
    const size_t fixed = 1 + std::strlen(kTempMark) + suffix.size();
    const size_t keep = nameLimit > fixed ? std::min(name.size(), nameLimit - fixed) : 0;
    return "." + name.substr(0, keep) + kTempMark + suffix;
}

bool WholeFileWriter::Open() {
    if (toStdout_) {
        file_ = stdout;
        return true;
    }
    if (!folder_.Valid()) {
        folder_ = UniqueFd(::open(folderPath_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!folder_.Valid()) return Fail("cannot create");
    }
    if (!folder_.Valid()) return Fail("cannot create");
    const long limit = fpathconf(folder_.Get(), _PC_NAME_MAX);
    const size_t nameLimit = limit > 0 ? size_t(limit) : size_t(NAME_MAX);
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp_ = TemporaryName(name_, RandomSuffix(), nameLimit);
        // Never through a link, never onto something already there; the
        // permissions are those of any new file (umask applies).
        fd = ::openat(folder_.Get(), temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        temp_.clear();
        return Fail("cannot create");
    }
    file_ = fdopen(fd, "wb");
    if (file_ == nullptr) {
        ::close(fd);
        return Fail("cannot create");
    }
    return true;
}

bool WholeFileWriter::Write(const uint8_t *data, size_t length) {
    return length == 0 || std::fwrite(data, 1, length, file_) == length || Fail("cannot write");
}

bool WholeFileWriter::Commit() {
    if (toStdout_) return std::fflush(stdout) == 0 || Fail("cannot write");
    FILE *file = file_;
    file_ = nullptr;
    if (std::fflush(file) != 0 || (durable_ && fsync(fileno(file)) != 0)) {
        std::fclose(file);
        return Fail("cannot write");
    }
    if (std::fclose(file) != 0) return Fail("cannot write");
    if (refuseLinks_) {
        const std::string kind = DescribeEntry(folder_.Get(), name_);
        if (kind == "a link") return FailWith(shown_ + ": a link, not replaced nor written through");
        if (kind == "a folder") return FailWith(shown_ + " is a folder where a file should be");
    }
    if (renameat(folder_.Get(), temp_.c_str(), folder_.Get(), name_.c_str()) != 0) return Fail("cannot create");
    temp_.clear();
    return true;
}

}  // namespace dncctl
