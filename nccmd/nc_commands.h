// The controller's file-service commands. Each command takes the device
// address first, builds its request in CommandPayload, calls the request
// engine and returns the engine's one-byte result code unchanged (0 on
// success; texts in result_texts.h).
//
// One CommandPayload and one engine serve the whole process, with no locks:
// only one command may run at a time.
//
// A text or data that does not fit behind its request header (more than
// 1020 bytes behind a 4-byte header, 1012 behind an announcement) is refused
// with result 3, the engine's own "request too long", before anything is
// sent, so nothing is ever copied past the end of CommandPayload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "nccmd/function_ref.h"
#include "nccmd/nc_protocol.h"

namespace nccmd {

// The request and answer buffer shared by every command.
extern uint8_t CommandPayload[kCommandPayloadSize];

// Result code for a text or data too long for its request.
inline constexpr uint8_t kResultTextTooLong = 0x03;

// Result of a read or listing whose blocks do not add up to what its opening
// answer announced: the controller's own "File Data Verify Error" code.
inline constexpr uint8_t kResultBlocksDisagree = 0x08;

// Result of a listing that the caller's abort test ended (the abort block
// was sent). No controller sends this code: theirs are 1-8, 0xE0-0xE2 and
// 0xFC-0xFE, the engine's 3 and 0xA0-0xA9 and 0xFF.
inline constexpr uint8_t kResultStopped = 0xAA;

// Tested once before each block of a listing; true ends it.
using AbortTest = FunctionRef<bool()>;

// Lists a directory. `text` is "%DirList%%" followed by the path, e.g.
// "%DirList%%\". On success *total holds the listing size the controller
// announced and `listing` the entries received. The opening answer must
// carry its three numbers (shorter answers are dropped as meant for another
// request), and the blocks must add up to the announced size exactly; a
// listing that disagrees is begun once more (a late opening answer of an
// earlier listing is the usual cause), and then the result is
// kResultBlocksDisagree. A listing larger than
// `capacity` is read until `listing` is full and then ended with the abort
// block; that is a success, with *total the announced size. When `received`
// is given it gets the number of bytes stored. An abort test that fires
// ends the listing with the abort block and kResultStopped.
uint8_t NcListDir(uint8_t address, const char *text, uint32_t *total, uint8_t *listing,
                  size_t capacity = kListingBufferSize, size_t *received = nullptr, AbortTest abortRequested = {});

// One step of reading a file. *blockNumber 0 opens the read of `fileName`
// and yields *blockCount and *fileSize; a positive *blockNumber fetches that
// block into `block` (kBlockBufferSize bytes: at most 512 data bytes, always
// followed by a zero); a negative number sends nothing and returns 0.
// *blockNumber receives the number the answer carries. *length receives the
// answer's whole payload length (its 4-byte block number included), so a
// block's data length is BlockDataLength(*length).
uint8_t NcReadFileBlock(uint8_t address, const char *fileName, uint8_t *block, int32_t *blockCount,
                        int32_t *fileSize, int32_t *blockNumber, int32_t *length);

// Data bytes a block answer of `answerLength` payload bytes carries into a
// block buffer.
inline constexpr int32_t BlockDataLength(int32_t answerLength) {
    return answerLength <= int32_t(kBlockHeaderSize) ? 0
           : answerLength - int32_t(kBlockHeaderSize) > int32_t(kBlockSize)
               ? int32_t(kBlockSize)
               : answerLength - int32_t(kBlockHeaderSize);
}

// One step of writing a file. Block 0 announces `fileName` with its size
// (data unused); a positive block number sends `dataLength` bytes of `data`
// as that block; a negative number sends nothing and returns 0.
uint8_t NcWriteFileBlock(uint8_t address, const char *fileName, int32_t fileSize, int32_t blockNumber,
                         int32_t dataLength, const uint8_t *data);

// One text request each; the command word comes in with the text, e.g.
// "%DeleteFile%\O1234.NC", "%CreateDir%\NewDir", "%DeleteDir%\DATA".
uint8_t NcDeleteFile(uint8_t address, const char *text);
uint8_t NcCreateDir(uint8_t address, const char *text);
uint8_t NcDeleteDir(uint8_t address, const char *text);

// Probes whether a controller answers at `address`; 0 means it did.
uint8_t NcSearchId(uint8_t address);

// Fetches the controller's state record into `state`, at most `capacity`
// bytes; `received`, when given, gets the number of bytes stored.
uint8_t NcSystemInfoState(uint8_t address, uint8_t *state, size_t capacity = kStateBufferSize,
                          size_t *received = nullptr);

// One step of a DNC run. Block 0 announces a program of `size` bytes; a
// positive block number sends *dataLength bytes of `data` as that block and,
// on success, replaces them with the controller's state record (at most
// `capacity` bytes; *dataLength = answer length - 4). A negative number
// sends nothing and returns 0. On failure data and *dataLength are unchanged.
uint8_t NcNetDncRun(uint8_t address, int32_t size, int32_t blockNumber, int32_t *dataLength, uint8_t *data,
                    size_t capacity = kDncBufferSize);

// One directory entry decoded into plain values. Name and extension stop at
// their terminating zero, or at the end of their field when it has none.
struct ListingEntry {
    uint8_t attribute = 0;
    std::string name;
    std::string extension;
    uint32_t size = 0;

    bool IsDirectory() const { return IsDirectoryAttribute(attribute); }
};

// Decodes the 20 bytes at `bytes`.
ListingEntry DecodeListingEntry(const uint8_t *bytes);

// Decodes the whole entries among the first `length` bytes of a listing;
// trailing bytes that do not fill an entry are ignored.
std::vector<ListingEntry> DecodeListing(const uint8_t *listing, size_t length);

// Fields of the controller's state record (the answer data after its block
// number). A field that lies beyond `length` reads as 0.
int32_t AbnormalCode(const uint8_t *record, size_t length);
uint8_t BlockTaken(const uint8_t *record, size_t length);

}  // namespace nccmd
