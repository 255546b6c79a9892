// dncctl's lines in the transfer journal it shares with the window, and the
// log command that prints the journal.
#pragma once

#include <cstdint>
#include <string>

#include "cli/cli_options.h"

namespace dncctl {

// What one command did, for its journal line.
struct JournalRecord {
    const char *operation = "";
    std::string remotePath;
    std::string localFile;  // as given on the command line; made absolute
    bool hasData = false;   // bytes and hash apply
    uint64_t bytes = 0;
    std::string sha256;
    std::string result;
};

// Appends the line; a journal that cannot be written is said on stderr and
// changes nothing else (the command's own outcome and exit status stand).
void WriteJournalLine(const CliOptions &options, const JournalRecord &record);

// dncctl log: a header line, then every entry oldest first, fields
// separated by tabs as the file stores them. Returns the exit status.
int PrintJournal();

}  // namespace dncctl
