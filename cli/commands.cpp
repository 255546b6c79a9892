#include "cli/commands.h"

#include <algorithm>
#include <map>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/dnc_restart.h"
#include "cli/interrupt.h"
#include "journal/journal.h"
#include "cli/local_folder.h"
#include "cli/remote_tree.h"
#include "nccmd/system_names.h"
#include "cli/journal_line.h"
#include "cli/local_files.h"
#include "journal/data_tally.h"
#include "cli/link_setup.h"
#include "nccmd/nc_commands.h"
#include "cli/progress_bar.h"
#include "cli/remote_path.h"
#include "nccmd/result_texts.h"
#include "nccmd/compare_remote.h"
#include "nccmd/transfers.h"
#include "cli/tree_commands.h"

namespace dncctl {

namespace {

int ReportCode(uint8_t code) {
    std::fprintf(stderr, "dncctl: %s\n", nccmd::ResultCodeText(code).c_str());
    return kExitController;
}

// A command dncctl will not send as it stands.
int ReportRefused(const std::string &what) {
    std::fprintf(stderr, "dncctl: refused: %s\n", what.c_str());
    return kExitUsage;
}

int ReportLocal(const std::string &what) {
    std::fprintf(stderr, "dncctl: %s\n", what.c_str());
    return kExitLocal;
}

// The exit status of a finished transfer, with its message on stderr.
int TransferStatus(const nccmd::TransferResult &result, const std::string &localError) {
    if (result.code != 0) ReportCode(result.code);
    if (result.aborted) {
        std::fprintf(stderr, "dncctl: stopped; the controller was sent the abort block\n");
        return kExitInterrupted;
    }
    if (result.localFailure) return ReportLocal(localError.empty() ? "local file error" : localError);
    return result.code != 0 ? kExitController : kExitOk;
}

// The journal's result text of a finished transfer: what the user was told.
std::string ResultText(const nccmd::TransferResult &result, const std::string &localError) {
    if (result.code != 0) return nccmd::ResultCodeText(result.code);
    if (result.abnormalCode != 0) return nccmd::DncAbnormalText(result.abnormalCode);
    if (result.aborted) return "stopped; the controller was sent the abort block";
    if (result.localFailure) return localError.empty() ? "local file error" : localError;
    return nccmd::ResultCodeText(0);
}

// Runs a transfer with Ctrl-C turned into the transfer's abort test.
template <typename Transfer>
nccmd::TransferResult Stoppable(Transfer transfer) {
    BeginStoppableTransfer();
    const nccmd::TransferResult result = transfer();
    EndStoppableTransfer();
    return result;
}

int List(const CliOptions &o) {
    std::vector<nccmd::ListingEntry> entries;
    const std::string path = RemoteDirPath(o.arguments.empty() ? "" : o.arguments[0]);
    BeginStoppableTransfer();
    const uint8_t code = nccmd::ListRemoteDirectory(o.id, path, &entries, [] { return StopRequested(); });
    EndStoppableTransfer();
    if (code == nccmd::kResultStopped) {
        std::fprintf(stderr, "dncctl: stopped; the controller was sent the abort block\n");
        return kExitInterrupted;
    }
    if (code != 0) return ReportCode(code);
    for (const nccmd::ListingEntry &e : entries) {
        // Names come from the controller: a newline or an escape in one
        // must not split a line or reach the terminal.
        std::printf("%-4s %10u %s\n", e.IsDirectory() ? "dir" : "file", e.size, PrintableName(EntryName(e)).c_str());
    }
    return std::fflush(stdout) == 0 ? kExitOk : ReportLocal("cannot write the listing");
}

// Reads `remote` into `sink` with a progress bar named `label`; Ctrl-C
// stops it with the abort block.
nccmd::TransferResult ReadWithProgress(const CliOptions &o, const std::string &remote, const char *label,
                                       nccmd::BlockSink sink) {
    return Stoppable([&] {
        ProgressBar bar(label);
        return nccmd::ReadRemoteFile(
            o.id, remote.c_str(), sink, [&](uint64_t done, uint64_t total) { bar.Update(done, total); },
            [] { return StopRequested(); });
    });
}

// On a serial line the checksum covers only the first (length mod 256)
// characters of a frame, so a bit flipped beyond them that still leaves a
// hex digit arrives as a wrong byte in a good-looking frame. Line noise does
// not strike two reads alike: a download there is read twice and kept only
// when both agree. A datagram carries its own checksum.
// --no-verify reads once, --verify twice on either link.
bool ReadsTwice(const CliOptions &o) { return o.verify.value_or(o.link == LinkChoice::kSerial); }

// Reads `remote` a second time and compares it with the first read's size
// and digest; *differs says how they differ ("" when they agree).
nccmd::TransferResult ReadAgain(const CliOptions &o, const std::string &remote, uint64_t firstSize,
                                const std::string &firstDigest, std::string *differs) {
    journal::DataTally second;
    const nccmd::TransferResult result = ReadWithProgress(o, remote, "verify", [&](const uint8_t *data, size_t n) {
        second.Add(data, n);
        return true;
    });
    if (result.Succeeded() && (second.Bytes() != firstSize || second.HexDigest() != firstDigest)) {
        *differs = "verify failed: two reads of " + remote + " differ (line noise?)";
    }
    return result;
}

int Get(const CliOptions &o) {
    const std::string remote = RemoteFilePath(o.arguments[0]);
    std::string local = o.arguments.size() > 1 ? o.arguments[1] : BaseName(remote);
    // Like cp: a folder as the target receives the file under its own name.
    platform::FileInfo target;
    if (local != "-" && platform::Stat(local, platform::Links::kFollow, &target) == 0 &&
        target.kind == platform::FileKind::kFolder) {
        local += "/" + BaseName(remote);
    }
    if (BaseName(local).empty()) return ReportLocal("no local file name in '" + o.arguments[0] + "'");
    WholeFileWriter out(local, false);
    if (!out.Open()) return ReportLocal(out.Error());
    journal::DataTally received;
    const nccmd::TransferResult result = ReadWithProgress(o, remote, "get", [&](const uint8_t *data, size_t n) {
        received.Add(data, n);
        return out.Write(data, n);
    });
    JournalRecord record{journal::kGet, remote, local, true, received.Bytes(), received.HexDigest(), {}};
    if (result.Succeeded() && ReadsTwice(o)) {
        std::string differs;
        const nccmd::TransferResult second = ReadAgain(o, remote, received.Bytes(), record.sha256, &differs);
        if (!second.Succeeded() || !differs.empty()) {
            record.result = !differs.empty() ? differs : "verify: " + ResultText(second, "");
            WriteJournalLine(o, record);
            if (!differs.empty()) {
                std::fprintf(stderr, "dncctl: %s; %s was not written\n", differs.c_str(), local.c_str());
                return kExitVerify;
            }
            return TransferStatus(second, "");
        }
    }
    if (result.Succeeded() && !out.Commit()) {
        record.result = out.Error();
        WriteJournalLine(o, record);
        return ReportLocal(out.Error());
    }
    record.result = ResultText(result, out.Error());
    if (result.Succeeded() && ReadsTwice(o)) record.result += ", verified";
    WriteJournalLine(o, record);
    return TransferStatus(result, out.Error());
}

// A local file opened for reading with its size, which must fit the
// controller's signed 32-bit sizes. Only a regular file is read: a FIFO or
// a device is refused before anything waits on it.
struct LocalInput {
    RegularFile file;
    int32_t size = 0;
    std::string error;

    explicit LocalInput(const std::string &path) {
        if (!OpenRegularFile(path, &file, &error)) return;
        if (file.size > uint64_t(INT32_MAX)) {
            error = path + " is too large for the controller (2 GiB at most)";
        } else {
            size = static_cast<int32_t>(file.size);
        }
    }
    bool Usable() const { return error.empty(); }

    bool Read(uint8_t *buffer, size_t n) {
        if (ReadFully(file.file, buffer, n) != int64_t(n)) return false;
        handedOut.Add(buffer, n);
        return true;
    }

    journal::DataTally handedOut;  // the bytes Read handed out so far
};

// Reads the remote file back and compares it with the local one.
int Verify(const CliOptions &o, const std::string &remote, LocalInput &input, const std::string &localPath,
           std::string *outcome) {
    input.file.file.Rewind();
    nccmd::Comparison comparison;
    Stoppable([&] {
        ProgressBar bar("verify");
        comparison = nccmd::CompareRemoteFile(
            o.id, remote.c_str(), uint64_t(input.size),
            [&](uint8_t *buffer, size_t n) -> int64_t { return std::max<int64_t>(0, ReadFully(input.file.file, buffer, n)); },
            false, [&](uint64_t done, uint64_t total) { bar.Update(done, total); }, [] { return StopRequested(); });
        return comparison.read;
    });
    const nccmd::TransferResult &result = comparison.read;
    const uint64_t firstDifference = comparison.firstDifference;
    if (const int status = TransferStatus(result, ""); status != kExitOk) {
        *outcome = "verify: " + ResultText(result, "");
        return status;
    }
    if (firstDifference != nccmd::kNoDifference) {
        std::fprintf(stderr, "dncctl: verify failed: %s on the controller differs from %s from byte %llu on\n",
                     remote.c_str(), localPath.c_str(), static_cast<unsigned long long>(firstDifference));
        *outcome = "verify failed: differs from byte " + std::to_string(firstDifference) + " on";
        return kExitVerify;
    }
    *outcome = nccmd::ResultCodeText(0) + ", verified";
    return kExitOk;
}

int Put(const CliOptions &o) {
    const std::string &localPath = o.arguments[0];
    const std::string remote = RemotePutPath(o.arguments.size() > 1 ? o.arguments[1] : "", localPath);
    if (nccmd::IsSystemFile(remote) && !o.force) {
        return ReportRefused(remote + " is the controller's system file; writing over it can leave the controller "
                                      "unable to start. Nothing was sent (--force overrides this)");
    }
    LocalInput input(localPath);
    if (!input.Usable()) return ReportLocal(input.error);
    const nccmd::TransferResult result = Stoppable([&] {
        ProgressBar bar("put");
        return nccmd::WriteRemoteFile(
            o.id, remote.c_str(), input.size, [&](uint8_t *buffer, size_t n) { return input.Read(buffer, n); },
            [&](uint64_t done, uint64_t total) { bar.Update(done, total); }, [] { return StopRequested(); });
    });
    const std::string localError = "cannot read " + localPath + " to its end (did it change?)";
    const int status = TransferStatus(result, localError);
    JournalRecord record{journal::kPut, remote, localPath, true, input.handedOut.Bytes(),
                         input.handedOut.HexDigest(), ResultText(result, localError)};
    // A serial line's checksum misses most damage in a long request: there
    // the file is read back unless the user says not to.
    if (status != kExitOk || !o.verify.value_or(o.link == LinkChoice::kSerial)) {
        WriteJournalLine(o, record);
        return status;
    }
    const int verified = Verify(o, remote, input, localPath, &record.result);
    WriteJournalLine(o, record);
    return verified;
}

// What rm, mkdir and rmdir do, for their checks and messages.
struct TextCommandKind {
    uint8_t (*send)(uint8_t, const char *);
    std::string_view word;
    const char *operation;  // the journal's name
    const char *verb;       // "deleting", "creating the folder", ...
    bool folder;            // the name is a folder's
    bool present;           // the name must be in the listing afterwards
};

const TextCommandKind kRemoveFile{nccmd::NcDeleteFile, nccmd::kDeleteFileWord, journal::kRemove, "deleting", false, false};
const TextCommandKind kMakeDir{nccmd::NcCreateDir, nccmd::kCreateDirWord, journal::kMakeDir, "creating the folder", true,
                               true};
const TextCommandKind kRemoveDir{nccmd::NcDeleteDir, nccmd::kDeleteDirWord, journal::kRemoveDir, "deleting the folder",
                                 true, false};

// The controller's "Operation Successful" is not taken on trust: these
// commands echo no block number, so an answer meant for another request
// could pass for theirs. The parent folder's listing says whether the name
// is there. "" when it agrees, else the contradiction in words.
std::string ConfirmByListing(const CliOptions &o, const TextCommandKind &kind, const std::string &path) {
    const std::string name(nccmd::LastRemoteComponent(path));
    if (name.empty()) return "";
    const std::string parent = path.substr(0, path.size() - name.size());
    const std::string said = "the controller answered " + nccmd::ResultCodeText(0) + " to " + kind.verb + " " +
                             PrintableName(path);
    std::vector<nccmd::ListingEntry> entries;
    if (const uint8_t code = nccmd::ListRemoteDirectory(o.id, parent, &entries); code != 0) {
        return said + ", but listing " + PrintableName(parent) + " to confirm it failed: " + nccmd::ResultCodeText(code);
    }
    bool shown = false;
    for (const nccmd::ListingEntry &e : entries) {
        if (e.IsDirectory() != kind.folder) continue;
        const std::string listed = EntryName(e);
        // A controller may keep names in its own case: a new folder counts
        // as present in any case, a deleted name as gone only when no entry
        // carries it exactly.
        const bool same = listed == name || (kind.present && std::equal(listed.begin(), listed.end(), name.begin(),
                                                                         name.end(), [](char a, char b) {
                                                                             return std::toupper((unsigned char)a) ==
                                                                                    std::toupper((unsigned char)b);
                                                                         }));
        if (same) shown = true;
    }
    if (shown == kind.present) return "";
    if (!kind.present) return said + ", but its listing of " + PrintableName(parent) + " still shows " + PrintableName(name);
    if (entries.size() >= nccmd::kListingBufferSize / nccmd::kListingEntrySize) {
        std::fprintf(stderr, "dncctl: %s; its listing of %s is full (%zu entries), so it cannot be confirmed\n",
                     said.c_str(), PrintableName(parent).c_str(), entries.size());
        return "";
    }
    return said + ", but its listing of " + PrintableName(parent) + " does not show " + PrintableName(name);
}

int TextCommand(const TextCommandKind &kind, const CliOptions &o, const std::string &path) {
    // The window refuses the controller's own names; so does dncctl, unless
    // the user insists.
    const bool system = kind.present ? false : kind.folder ? nccmd::IsSystemDir(path) : nccmd::IsSystemFile(path);
    if (system && !o.force) {
        return ReportRefused(PrintableName(path) + " is one of the controller's system " +
                             (kind.folder ? "folders" : "files") +
                             "; deleting it can leave the controller unable to start. Nothing was sent "
                             "(--force overrides this)");
    }
    const std::string text = std::string(kind.word) + path;
    const uint8_t code = kind.send(o.id, text.c_str());
    std::string result = nccmd::ResultCodeText(code);
    int status = code == 0 ? kExitOk : ReportCode(code);
    if (code == 0) {
        if (const std::string contradiction = ConfirmByListing(o, kind, path); !contradiction.empty()) {
            std::fprintf(stderr, "dncctl: %s\n", contradiction.c_str());
            result = contradiction;
            status = kExitController;
        }
    }
    WriteJournalLine(o, JournalRecord{kind.operation, path, {}, false, 0, {}, result});
    return status;
}

int Search(const CliOptions &o) {
    const long first = std::strtol(o.arguments[0].c_str(), nullptr, 10);
    const long last = std::strtol(o.arguments[1].c_str(), nullptr, 10);
    const auto valid = [](const std::string &text, long value) {
        return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos && value >= 1 && value <= 255;
    };
    if (!valid(o.arguments[0], first) || !valid(o.arguments[1], last) || first > last) {
        std::fprintf(stderr, "dncctl: search wants FIRST <= LAST, both from 1 to 255\n");
        return kExitUsage;
    }
    LinkSession().BeginSearch();
    int found = 0;
    for (long id = first; id <= last; ++id) {
        if (nccmd::NcSearchId(static_cast<uint8_t>(id)) == 0) {
            std::printf("%ld\n", id);
            std::fflush(stdout);
            ++found;
        }
    }
    LinkSession().EndSearch();
    if (found == 0) {
        std::fprintf(stderr, "dncctl: no controller answered on IDs %ld to %ld\n", first, last);
        return kExitController;
    }
    return kExitOk;
}

int State(const CliOptions &o) {
    uint8_t record[nccmd::kStateBufferSize] = {};
    size_t length = 0;
    if (const uint8_t code = nccmd::NcSystemInfoState(o.id, record, sizeof record, &length); code != 0) {
        return ReportCode(code);
    }
    std::printf("AbnormalCode %d\n", nccmd::AbnormalCode(record, length));
    std::printf("BlockTaken %u\n", nccmd::BlockTaken(record, length));
    std::printf("record %zu bytes\n", length);
    for (size_t row = 0; row < length; row += 16) {
        std::printf("%04zx:", row);
        for (size_t i = row; i < row + 16 && i < length; ++i) std::printf(" %02x", record[i]);
        std::printf("\n");
    }
    return std::fflush(stdout) == 0 ? kExitOk : ReportLocal("cannot write the state");
}

int Dnc(const CliOptions &o) {
    const std::string &localPath = o.arguments[0];
    LocalInput input(localPath);
    if (!input.Usable()) return ReportLocal(input.error);
    // A restart streams its plan (opening, preamble, the program from the
    // restart line) through the same loop instead of the file.
    const bool restarting = o.restart.Active();
    RestartRun restart;
    if (restarting) {
        if (const int status = restart.Prepare(o); status >= 0) return status;
    }
    nccmd::TransferResult result = Stoppable([&] {
        ProgressBar bar("dnc");
        auto source = [&](uint8_t *buffer, size_t n) { return restarting ? restart.Read(buffer, n) : input.Read(buffer, n); };
        auto progress = [&](uint64_t done, uint64_t total) { bar.Update(done, total); };
        auto stop = [] { return StopRequested(); };
        auto stopWhileBusy = [] { std::fprintf(stderr, "\ndncctl: %s\n", nccmd::kDncStoppedText); };
        nccmd::DncCallbacks callbacks;
        callbacks.source = source;
        callbacks.progress = progress;
        callbacks.stopRequested = stop;
        callbacks.stopWhileBusy = stopWhileBusy;
        return nccmd::RunDncStream(o.id, restarting ? restart.Size() : input.size, callbacks);
    });
    const std::string localError = "cannot read " + localPath + " to its end (did it change?)";
    JournalRecord record{journal::kDnc, {}, localPath, true, input.handedOut.Bytes(), input.handedOut.HexDigest(),
                         ResultText(result, localError)};
    if (restarting) {
        record.bytes = restart.BytesRead();
        record.sha256 = restart.StreamSha256();
        record.result += " (" + restart.JournalNote() + ")";
    }
    WriteJournalLine(o, record);
    int status = kExitAbnormal;
    if (result.abnormalCode != 0) {
        std::fprintf(stderr, "dncctl: %s\n", nccmd::DncAbnormalText(result.abnormalCode).c_str());
    } else {
        status = TransferStatus(result, localError);
    }
    if (!result.Succeeded()) OfferResume(localPath, restarting ? &restart : nullptr, result.bytesDone);
    return status;
}

int Remove(const CliOptions &o) { return TextCommand(kRemoveFile, o, RemoteFilePath(o.arguments[0])); }
int MakeDir(const CliOptions &o) { return TextCommand(kMakeDir, o, RemoteDirName(o.arguments[0])); }
int RemoveDir(const CliOptions &o) { return TextCommand(kRemoveDir, o, RemoteDirName(o.arguments[0])); }
// The journal is local: no link is needed to print it.
int Log(const CliOptions &) { return PrintJournal(); }

}  // namespace

const std::map<std::string, CommandSpec> &CommandTable() {
    static const std::map<std::string, CommandSpec> commands = {
        {"ls", {0, 1, true, List, "ls [REMOTE_DIR]\n  List a directory of the controller (default the root), one entry a line:\n"
                      "  type (dir or file), size in bytes, name.\n"}},
        {"get", {1, 2, true, Get, "get REMOTE [LOCAL|-] [--verify|--no-verify]\n  Read a file of the controller into LOCAL (default: its name in the\n"
                       "  current folder) or to standard output with '-'. A failed read leaves no\n"
                       "  partial file behind. On a serial line the file is read twice and kept\n"
                       "  only when both reads agree: line noise can change a byte past the frame\n"
                       "  checksum's reach (--no-verify reads once; --verify reads twice over UDP).\n"}},
        {"put", {1, 2, true, Put, "put LOCAL [REMOTE] [--verify|--no-verify] [--force]\n  Write a local file to the controller, by default under its own name in\n"
                       "  the root; a REMOTE ending in '/' or '\\' names a directory. LOCAL must be a\n"
                       "  regular file. --verify reads the file back and compares it byte for byte:\n"
                       "  the frame checksum does not cover all bytes of a long block. On a serial\n"
                       "  line this is the default (--no-verify skips it); over UDP it is not.\n"
                       "  QVTROM.BIN, the controller's system file, is refused unless --force.\n"}},
        {"rm", {1, 1, true, Remove, "rm REMOTE [--force]\n  Delete a file of the controller, then list its folder to confirm it is\n"
                      "  gone. QVTROM.BIN, the controller's system file, is refused unless --force.\n"}},
        {"mkdir", {1, 1, true, MakeDir, "mkdir REMOTE\n  Create a directory on the controller, then list its parent to confirm it\n"
                         "  is there.\n"}},
        {"rmdir", {1, 1, true, RemoveDir, "rmdir REMOTE [--force]\n  Delete a directory of the controller, then list its parent to confirm it\n"
                         "  is gone. QVT and PRG, the controller's system folders, are refused unless\n"
                         "  --force.\n"}},
        {"search", {2, 2, true, Search, "search FIRST LAST\n  Probe the device IDs FIRST..LAST (1 to 255) and print those that\n"
                          "  answered, one a line. Exit status 1 when none answered.\n"}},
        {"state", {0, 0, true, State, "state\n  Print the controller's state record: AbnormalCode, BlockTaken and a hex\n"
                         "  dump of the whole record.\n"}},
        {"log", {0, 0, false, Log, "log\n  Print the transfer journal that dncctl and dncpanel append to: a header\n"
                       "  line, then one line per get, put, save-as, rm, mkdir, rmdir and dnc, oldest\n"
                       "  first, tab-separated. The journal is $DNCPANEL_JOURNAL when set, else\n"
                       "  $XDG_DATA_HOME/dncpanel/journal.tsv (~/.local/share/dncpanel/journal.tsv;\n"
                       "  on Windows %LOCALAPPDATA%\\dncpanel\\journal.tsv), and must be a regular file.\n"}},
        {"backup", {1, 2, true, Backup, "backup LOCAL_DIR [REMOTE_DIR]\n  Copy the controller's storage (or one folder) into LOCAL_DIR, keeping its\n"
                          "  folders, each file whole or not at all; then write LOCAL_DIR/MANIFEST.sha256\n"
                          "  (check it with sha256sum -c). Files that fail are named on stderr and the\n"
                          "  rest still copied. Links inside LOCAL_DIR are never followed: a link where\n"
                          "  a folder or file goes is refused. With --id 1,2,4 each device goes to\n"
                          "  LOCAL_DIR/ID/.\n"}},
        {"restore", {1, 2, true, Restore, "restore LOCAL_DIR [REMOTE_DIR] [--verify|--no-verify] [--dry-run] [--force]\n"
                           "  Write a backup back to the controller, creating missing folders. Nothing\n"
                           "  is deleted there, and QVTROM.BIN (in any case) is left out unless --force.\n"
                           "  A backup whose files do not match its MANIFEST.sha256 is refused, and so\n"
                           "  is one holding links, FIFOs or devices: nothing is sent then. With a\n"
                           "  manifest only the files it lists are sent. --verify reads every file back\n"
                           "  and compares it (the default on a serial line; --no-verify skips it);\n"
                           "  --dry-run only prints what would be created and sent.\n"}},
        {"diff", {1, 2, true, Diff, "diff LOCAL_DIR|LOCAL_FILE [REMOTE]\n  Compare local files with the controller's, changing nothing. One line per\n"
                        "  difference: only-local PATH, only-remote PATH (folders end in '/'), or\n"
                        "  differs PATH local SIZE remote SIZE. Exit status 0 when identical, 4 when\n"
                        "  they differ. With --id 1,2,4 each device is compared with LOCAL_DIR/ID/\n"
                        "  (a LOCAL_FILE with each device) and lines start with 'ID: '.\n"}},
        {"dnc", {1, 1, true, Dnc, "dnc LOCAL [--from-line L | --from-tool K | --from-block N [--preamble FILE] [--show]]\n"
                                  "  Stream an NC program to the controller while it machines (DNC run).\n"
                                  "  Ctrl-C stops the run: the controller is sent the abort block.\n"
                                  "  A restart sends the program's opening ('%' and program-number lines), a\n"
                                  "  preamble, then the program from line L (lines counted from 1), from its\n"
                                  "  K-th tool change (M06) or from its block N. The preamble puts back the\n"
                                  "  modal state of the skipped lines (tool, G20/G21, plane, G90/G91, G54-G59,\n"
                                  "  spindle, coolant, feed, motion mode); it is printed before sending, with\n"
                                  "  every skipped line the scan did not understand. --preamble FILE sends\n"
                                  "  that file's lines instead; --show prints the plan and sends nothing.\n"
                                  "  A safe retract and approach are yours to put in the preamble.\n"}},
    };
    return commands;
}

int RunCommand(const CliOptions &o) {
    const auto command = CommandTable().find(o.command);
    return command == CommandTable().end() ? kExitUsage : command->second.run(o);
}

}  // namespace dncctl
