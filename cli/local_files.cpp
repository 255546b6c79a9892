#include "local_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace dncctl {

WholeFileWriter::WholeFileWriter(std::string path, bool durable)
    : path_(std::move(path)), toStdout_(path_ == "-"), durable_(durable) {}

WholeFileWriter::~WholeFileWriter() {
    if (file_ != nullptr && file_ != stdout) std::fclose(file_);
    if (!temp_.empty()) unlink(temp_.c_str());
}

bool WholeFileWriter::Fail(const char *what) {
    if (error_.empty()) error_ = std::string(what) + " " + (toStdout_ ? "standard output" : path_) + ": " + std::strerror(errno);
    return false;
}

bool WholeFileWriter::Open() {
    if (toStdout_) {
        file_ = stdout;
        return true;
    }
    const size_t slash = path_.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path_.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path_ : path_.substr(slash + 1);
    std::string pattern = folder + "." + name + ".dncctl-XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) return Fail("cannot create");
    temp_ = pattern;
    // mkstemp makes 0600; a copy gets the permissions any new file would.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    file_ = fdopen(fd, "wb");
    if (file_ == nullptr) {
        close(fd);
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
    if (std::rename(temp_.c_str(), path_.c_str()) != 0) return Fail("cannot create");
    temp_.clear();
    return true;
}

bool MakeFolders(const std::string &folder, std::string *error) {
    std::error_code code;
    std::filesystem::create_directories(folder, code);
    if (code || !std::filesystem::is_directory(folder, code)) {
        *error = "cannot make the folder " + folder + ": " + (code ? code.message() : "a file is in the way");
        return false;
    }
    return true;
}

bool ReadWholeFile(const std::string &path, std::vector<uint8_t> *bytes, std::string *error) {
    FILE *file = std::fopen(path.c_str(), "rb");
    struct stat st {};
    if (file == nullptr || fstat(fileno(file), &st) != 0) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        if (file != nullptr) std::fclose(file);
        return false;
    }
    bool ok = false;
    if (!S_ISREG(st.st_mode)) {
        *error = path + " is not a regular file";
    } else if (st.st_size > INT32_MAX) {
        *error = path + " is too large for the controller (2 GiB at most)";
    } else {
        bytes->resize(size_t(st.st_size));
        ok = std::fread(bytes->data(), 1, bytes->size(), file) == bytes->size() && std::fgetc(file) == EOF &&
             std::ferror(file) == 0;
        if (!ok) *error = "cannot read " + path + " to its end (did it change?)";
    }
    std::fclose(file);
    return ok;
}

}  // namespace dncctl
