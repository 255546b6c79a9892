#include "journal/journal.h"

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "platform/app_paths.h"
#include "platform/calendar.h"
#include "platform/files.h"

namespace journal {

namespace {

bool NeedsEscape(unsigned char c) { return c < 0x20 || c == 0x7F || c == '%'; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// mkdir -p for the folder that holds `path`.
bool MakeParents(const std::string &path, std::string *error) {
    const std::string folder = platform::ParentPath(path);
    if (folder.empty()) return true;
    if (const int failed = platform::MakeFolders(folder); failed != 0) {
        *error = "cannot create " + folder + ": " + platform::ErrorText(failed);
        return false;
    }
    return true;
}

bool IsRegular(const platform::File &file, const std::string &path, std::string *error) {
    platform::FileInfo info;
    if (const int failed = file.Info(&info); failed != 0) {
        *error = "cannot read " + path + ": " + platform::ErrorText(failed);
        return false;
    }
    if (info.kind != platform::FileKind::kFile) {
        *error = path + " is not a regular file; the journal must be one";
        return false;
    }
    return true;
}

// Minutes east of UTC at `now`, from the local and the UTC calendar times:
// strftime's %z is not an offset everywhere.
long UtcOffsetMinutes(const std::tm &local, const std::tm &utc) {
    const auto days = [](const std::tm &t) {
        // Days since 1970-01-01 of a proleptic Gregorian date.
        const long y = t.tm_year + 1900 - (t.tm_mon < 2 ? 1 : 0);
        const long era = (y >= 0 ? y : y - 399) / 400;
        const long yoe = y - era * 400;
        const long m = t.tm_mon + 1;
        const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + t.tm_mday - 1;
        const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
        return era * 146097 + doe - 719468;
    };
    const auto minutes = [&](const std::tm &t) { return days(t) * 1440 + t.tm_hour * 60 + t.tm_min; };
    return minutes(local) - minutes(utc);
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
    if (std::string path = platform::EnvironmentValue(kPathVariable); !path.empty()) return path;
    const std::string data = platform::UserDataFolder();
    if (data.empty()) return {};
    return platform::JoinPath(platform::JoinPath(data, kFolderName), kFileName);
}

std::string NowText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    std::tm utc{};
    platform::CalendarTimes(now, &local, &utc);
    char text[40];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    // The offset in the ISO 8601 extended form, +02:00.
    const long offset = UtcOffsetMinutes(local, utc);
    const long magnitude = offset < 0 ? -offset : offset;
    char zone[32];
    std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    return std::string(text, n) + zone;
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
    platform::FileInfo info;
    if (platform::Stat(path, platform::Links::kFollow, &info) == 0 && info.kind != platform::FileKind::kMissing &&
        info.kind != platform::FileKind::kFile) {
        *error = path + " is not a regular file; the journal must be one";
        return false;
    }
    platform::File file;
    if (const int failed = platform::OpenForAppend(path, &file); failed != 0) {
        *error = "cannot open " + path + ": " + platform::ErrorText(failed);
        return false;
    }
    if (!IsRegular(file, path, error)) return false;
    // One write for the whole line: opened for appending, the line lands
    // whole at the end, never mixed with a line the other program writes.
    const std::string line = FormatLine(entry);
    int writeError = 0;
    const int64_t written = file.Write(line.data(), line.size(), &writeError);
    const int closeError = file.Close();
    if (written != static_cast<int64_t>(line.size())) {
        *error = "cannot write " + path + ": " + (written < 0 ? platform::ErrorText(writeError) : "short write");
        return false;
    }
    if (closeError != 0) {
        *error = "cannot write " + path + ": " + platform::ErrorText(closeError);
        return false;
    }
    return true;
}

bool ForEachEntry(const std::string &path, const std::function<void(const Entry &)> &each, std::string *error) {
    platform::File file;
    if (const int failed = platform::OpenForReading(path, platform::Links::kFollow, &file); failed != 0) {
        if (failed == ENOENT) return true;
        *error = "cannot read " + path + ": " + platform::ErrorText(failed);
        return false;
    }
    if (!IsRegular(file, path, error)) return false;
    std::string line;
    bool skipping = false;  // inside a line longer than kMaxLineBytes
    char buffer[16 * 1024];
    bool ok = true;
    for (;;) {
        int readError = 0;
        const int64_t n = file.Read(buffer, sizeof buffer, &readError);
        if (n < 0) {
            *error = "cannot read " + path + ": " + platform::ErrorText(readError);
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
    return ok;
}

std::vector<Entry> ReadAll(const std::string &path, std::string *error) {
    std::vector<Entry> entries;
    ForEachEntry(path, [&](const Entry &e) { entries.push_back(e); }, error);
    return entries;
}

}  // namespace journal
