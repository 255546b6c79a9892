#include "cli/journal_line.h"

#include <cstdio>

#include "journal/journal.h"
#include "platform/files.h"

namespace dncctl {

namespace {

std::string Address(const CliOptions &o) {
    if (o.link == LinkChoice::kUdp) return o.udpHost + ":" + std::to_string(o.udpPort);
    return o.serialDevice + " " + o.baud;
}

}  // namespace

void WriteJournalLine(const CliOptions &o, const JournalRecord &record) {
    journal::Entry entry;
    entry.program = "dncctl";
    entry.operation = record.operation;
    entry.deviceId = std::to_string(o.id);
    entry.link = o.link == LinkChoice::kUdp ? "udp" : "serial";
    entry.address = Address(o);
    entry.remotePath = record.remotePath;
    entry.localFile = record.localFile == "-" ? record.localFile : platform::AbsolutePath(record.localFile);
    if (record.hasData) {
        entry.bytes = std::to_string(record.bytes);
        entry.sha256 = record.sha256;
    }
    entry.result = record.result;
    std::string error;
    if (!journal::Append(entry, &error)) std::fprintf(stderr, "dncctl: journal: %s\n", error.c_str());
}

int PrintJournal() {
    const std::string path = journal::JournalPath();
    std::string error;
    std::string header;
    for (const std::string &name : journal::ColumnNames()) header += (header.empty() ? "" : "\t") + name;
    std::printf("%s\n", header.c_str());
    // Printed as read: a long journal never has to fit in memory.
    const bool read = journal::ForEachEntry(
        path, [](const journal::Entry &entry) { std::fputs(journal::FormatLine(entry).c_str(), stdout); }, &error);
    const bool written = std::fflush(stdout) == 0;
    if (!read) {
        std::fprintf(stderr, "dncctl: %s\n", error.c_str());
        return 3;
    }
    return written ? 0 : 3;
}

}  // namespace dncctl
