// The transfer journal: one line per download, upload, save-as, file
// management command and DNC run, appended by the window and by dncctl to
// one file, so a shop can tell which program version went to which machine
// and when.
//
// The file is plain text, one entry a line, fields separated by tabs in the
// order of ColumnNames(); it has no header line. A field never holds a tab,
// a line break or any other control character: those bytes, and '%', are
// written as '%' and two hex digits (a tab as %09). Each entry is appended
// with one write on a file opened for appending, so lines written by two
// programs at once never interleave.
//
// Location: $DNCPANEL_JOURNAL when set, else $XDG_DATA_HOME/dncpanel/
// journal.tsv, else ~/.local/share/dncpanel/journal.tsv; on Windows
// %LOCALAPPDATA%\dncpanel\journal.tsv.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace journal {

inline constexpr const char *kPathVariable = "DNCPANEL_JOURNAL";
inline constexpr const char *kFolderName = "dncpanel";
inline constexpr const char *kFileName = "journal.tsv";

// Operation names, shared by both programs.
inline constexpr const char *kGet = "get";          // controller -> memo or local file
inline constexpr const char *kPut = "put";          // local file -> controller
inline constexpr const char *kSaveAs = "save-as";   // the window's text -> controller
inline constexpr const char *kRemove = "rm";
inline constexpr const char *kMakeDir = "mkdir";
inline constexpr const char *kRemoveDir = "rmdir";
inline constexpr const char *kDnc = "dnc";

struct Entry {
    std::string time;        // local time, e.g. 2024-05-06T07:08:09+02:00
    std::string program;     // "dncpanel" or "dncctl"
    std::string operation;   // one of the names above
    std::string deviceId;    // decimal
    std::string link;        // "udp" or "serial"
    std::string address;     // "10.0.0.5:2232", or the serial device and rate
    std::string remotePath;  // the controller's path, e.g. \PRG\O0001.CNC
    std::string localFile;   // absolute local path; empty when none
    std::string bytes;       // data bytes moved; empty for commands without data
    std::string sha256;      // of the data moved; empty for commands without data
    std::string result;      // the result text the user saw
};

// Column titles in file order.
const std::vector<std::string> &ColumnNames();

// Where the journal lives now (see above); empty only when neither the
// variables nor HOME say.
std::string JournalPath();

// The current local time in the journal's form.
std::string NowText();

std::string EscapeField(std::string_view text);
std::string UnescapeField(std::string_view text);

// One entry as its line, '\n' included.
std::string FormatLine(const Entry &entry);
// False for a line that does not have the journal's column count.
bool ParseLine(std::string_view line, Entry *entry);

// Appends one entry (time filled in when empty), creating the file and its
// folder when needed. False with a reason when it could not be written.
// Only a regular file is a journal: a FIFO, a device or a folder at the
// path is refused without waiting on it.
bool Append(Entry entry, std::string *error, const std::string &path = JournalPath());

// No line the programs write comes near this (paths are bounded by the
// system's and the controller's limits); a longer one is skipped unread, so
// a damaged or hostile file cannot fill memory one line at a time.
inline constexpr size_t kMaxLineBytes = 64 * 1024;

// Calls `each` for every entry of the file, oldest first, reading a piece
// at a time; lines that do not parse are skipped. A missing file reads as
// empty; anything but a regular file is an error.
bool ForEachEntry(const std::string &path, const std::function<void(const Entry &)> &each, std::string *error);

// Every entry of the file (ForEachEntry into a vector).
std::vector<Entry> ReadAll(const std::string &path, std::string *error);

}  // namespace journal
