#include "journal/journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace journal {

namespace {

bool NeedsEscape(unsigned char c) { return c < 0x20 || c == 0x7F || c == '%'; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string Getenv(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// mkdir -p for the folder that holds `path`.
bool MakeParents(const std::string &path, std::string *error) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
            *error = "cannot create " + folder + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

bool IsRegular(int fd, const std::string &path, std::string *error) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = path + " is not a regular file; the journal must be one";
        return false;
    }
    return true;
}

std::vector<std::string> Fields(const Entry &e) {
    return {e.time,       e.program,   e.operation, e.deviceId, e.link,  e.address,
            e.remotePath, e.localFile, e.bytes,     e.sha256,   e.result};
}

}  // namespace

const std::vector<std::string> &ColumnNames() {
    static const std::vector<std::string> names = {"time",   "program", "operation", "device", "link",  "address",
                                                   "remote", "local",   "bytes",     "sha256", "result"};
    return names;
}

std::string JournalPath() {
    if (std::string path = Getenv(kPathVariable); !path.empty()) return path;
    std::string data = Getenv("XDG_DATA_HOME");
    // The XDG rule: a relative value is ignored.
    if (data.empty() || data[0] != '/') {
        const std::string home = Getenv("HOME");
        if (home.empty()) return {};
        data = home + "/.local/share";
    }
    return data + "/" + kFolderName + "/" + kFileName;
}

std::string NowText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[40];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    std::string result(text, n);
    // +0200 -> +02:00, the ISO 8601 extended form.
    if (result.size() >= 5) result.insert(result.size() - 2, ":");
    return result;
}

std::string EscapeField(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (NeedsEscape(byte)) {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

std::string UnescapeField(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) << 4 | HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string FormatLine(const Entry &entry) {
    std::string line;
    bool first = true;
    for (const std::string &field : Fields(entry)) {
        if (!first) line += '\t';
        first = false;
        line += EscapeField(field);
    }
    line += '\n';
    return line;
}

bool ParseLine(std::string_view line, Entry *entry) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        const size_t tab = line.find('\t', start);
        fields.push_back(UnescapeField(line.substr(start, tab == std::string_view::npos ? tab : tab - start)));
        if (tab == std::string_view::npos) break;
        start = tab + 1;
    }
    if (fields.size() != ColumnNames().size()) return false;
    *entry = Entry{fields[0], fields[1], fields[2], fields[3], fields[4],  fields[5],
                   fields[6], fields[7], fields[8], fields[9], fields[10]};
    return true;
}

bool Append(Entry entry, std::string *error, const std::string &path) {
    if (path.empty()) {
        *error = "no journal location: neither " + std::string(kPathVariable) + ", XDG_DATA_HOME nor HOME is set";
        return false;
    }
    if (entry.time.empty()) entry.time = NowText();
    if (!MakeParents(path, error)) return false;
    // A FIFO, a device or a folder is said to be one, and never opened in
    // a way that waits: opening a FIFO nobody reads blocks for ever.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        *error = path + " is not a regular file; the journal must be one";
        return false;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!IsRegular(fd, path, error)) {
        ::close(fd);
        return false;
    }
    // One write for the whole line: with O_APPEND the line lands whole at
    // the end, never mixed with a line the other program writes.
    const std::string line = FormatLine(entry);
    ssize_t written;
    do {
        written = ::write(fd, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    const int writeErrno = errno;
    const bool closed = ::close(fd) == 0;
    if (written != static_cast<ssize_t>(line.size())) {
        *error = "cannot write " + path + ": " + (written < 0 ? std::strerror(writeErrno) : "short write");
        return false;
    }
    if (!closed) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool ForEachEntry(const std::string &path, const std::function<void(const Entry &)> &each, std::string *error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return true;
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!IsRegular(fd, path, error)) {
        ::close(fd);
        return false;
    }
    std::string line;
    bool skipping = false;  // inside a line longer than kMaxLineBytes
    char buffer[16 * 1024];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = "cannot read " + path + ": " + std::strerror(errno);
            ok = false;
            break;
        }
        if (n == 0) break;
        for (const std::string_view piece(buffer, size_t(n)); const char c : piece) {
            if (c == '\n') {
                Entry entry;
                if (!skipping && ParseLine(line, &entry)) each(entry);
                line.clear();
                skipping = false;
            } else if (!skipping) {
                if (line.size() >= kMaxLineBytes) {
                    line.clear();
                    skipping = true;
                } else {
                    line += c;
                }
            }
        }
    }
    Entry entry;
    if (ok && !skipping && !line.empty() && ParseLine(line, &entry)) each(entry);
    ::close(fd);
    return ok;
}

std::vector<Entry> ReadAll(const std::string &path, std::string *error) {
    std::vector<Entry> entries;
    ForEachEntry(path, [&](const Entry &e) { entries.push_back(e); }, error);
    return entries;
}

}  // namespace journal
