// Whole transfers, written once and used by both the window and dncctl:
// read a remote file block by block, write a file, stream a DNC run, list a
// directory. They send exactly the request order the controller expects
// (opening exchange 0, then blocks 1..N in order; the abort block
// 0x0FFFFFFF when the abort test says so) and never loop on their own
// beyond what the controller's answers ask for.
//
// Callbacks are FunctionRefs: pass lambdas directly, nothing is allocated.
// Empty callbacks are allowed except for the sink and source.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "nccmd/function_ref.h"
#include "nccmd/nc_commands.h"

namespace nccmd {

// Receives each block's data in order; returns false when it cannot keep it
// (local disk full, ...), which ends the transfer.
using BlockSink = FunctionRef<bool(const uint8_t *data, size_t length)>;
// Fills exactly `length` bytes (the next piece of the file); returns false
// when it cannot (read error, file shorter than announced).
using BlockSource = FunctionRef<bool(uint8_t *buffer, size_t length)>;
// Bytes moved so far and the announced total; called once after the opening
// exchange (done 0) and once after every block.
using ProgressFn = FunctionRef<void(uint64_t done, uint64_t total)>;
// AbortTest (nc_commands.h) is tested once before each block, and in a DNC
// run after each busy answer.

struct TransferResult {
    uint8_t code = 0;           // result code of the last exchange, 0 = success
    bool aborted = false;       // the abort test fired and the abort block was sent
    bool localFailure = false;  // the sink or source failed; see each loop
    int32_t abnormalCode = 0;   // DNC run: the controller's abnormal state that ended it
    uint64_t bytesDone = 0;     // data bytes moved in blocks 1..N

    bool Succeeded() const { return code == 0 && !aborted && !localFailure && abnormalCode == 0; }
};

// Reads `remotePath` (e.g. "\PRG\O1234.NC") into `sink`, every data byte of
// every block, NUL bytes included. The opening answer's block count must be
// the one its size needs (ceil(size / 512), size >= 0). Every block but the
// last must be whole and the last must end the file at its announced size;
// otherwise the read ends with kResultBlocksDisagree (and the abort block,
// when blocks remain), the bad block never reaching the sink. When that
// happens before any byte reached the sink, the read is begun once more
// first (a late opening answer of an earlier read is the usual cause). A
// sink failure stops the reading at once
// and sends the abort block so the controller knows the read has ended. The
// answer to an abort block is not passed to the sink.
TransferResult ReadRemoteFile(uint8_t address, const char *remotePath, BlockSink sink, ProgressFn progress = {},
                              AbortTest abortRequested = {});

// Writes `size` bytes from `source` to `remotePath`: announcement, then
// blocks 1..N of 512 bytes (the last one shorter). When the abort test fires
// the next piece is sent as the abort block and the loop ends. A source
// failure sends an empty abort block, so the controller never keeps a file
// silently cut short, and reports localFailure. Sizes below 0 are refused
// with code 3 before anything is sent.
TransferResult WriteRemoteFile(uint8_t address, const char *remotePath, int32_t size, BlockSource source,
                               ProgressFn progress = {}, AbortTest abortRequested = {});

struct DncCallbacks {
    BlockSource source;            // required: the program's bytes in order
    ProgressFn progress;           // optional
    AbortTest stopRequested;       // optional: the operator's stop
    BlockSink blockSent;           // optional: each block as sent (block 1's '%' replaced), for display
    FunctionRef<void()> stopWhileBusy;  // optional: once, at the first busy answer after a stop
};

// Result of a DNC run whose controller kept answering a block with a state
// record too short to say whether it took the block: the controller's own
// "Net DNC NCSystem Responses Error Message" code.
inline constexpr uint8_t kResultDamagedStateRecord = 0xFD;

// Streams a program of `size` bytes: announcement, then blocks 1..N, each
// sent again while the controller answers busy. A leading '%' of block 1 is
// sent as CR. A non-zero AbnormalCode ends the run (abnormalCode set, code
// 0). A stop sends the next block (or the busy block in hand) as the abort
// block, again while busy; its being taken ends the run with aborted set.
// An answer without data moves on; a record of 1 to 15 bytes is damage: the
// block is sent again, at most as many times more as the engine's retry
// setting, then the run ends with kResultDamagedStateRecord.
TransferResult RunDncStream(uint8_t address, int32_t size, const DncCallbacks &callbacks);

// Lists the directory `path` (starting and ending with '\', "\" for the
// root) into `entries`, replacing their content, with NcListDir's checks:
// up to the listing buffer's 1024 entries. An abort test that fires ends
// the listing with kResultStopped and no entries.
uint8_t ListRemoteDirectory(uint8_t address, const std::string &path, std::vector<ListingEntry> *entries,
                            AbortTest abortRequested = {});

// The listing request text for a directory path: "%DirList%%" + path.
std::string DirListText(const std::string &path);

}  // namespace nccmd
