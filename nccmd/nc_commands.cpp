#include "nccmd/nc_commands.h"

#include <algorithm>
#include <cstring>

#include "core/request_engine.h"

namespace nccmd {

uint8_t CommandPayload[kCommandPayloadSize];

namespace {

// Text requests, announcements and data blocks start from a cleared area,
// so an answer shorter than the fields read from it yields zeros there
// rather than bytes of some earlier request.
constexpr size_t kClearedArea = 520;

void ClearPayloadHead() { std::memset(CommandPayload, 0, kClearedArea); }

using Request = uint8_t (*)(uint8_t, uint16_t *, uint8_t *, core::AnswerMatch);

// Which answer a request waits for. Frames carry no sequence number, so an
// answer that comes late (after its try gave up) or twice (repeated on the
// way) would otherwise be taken for the answer to whatever was sent next:
// a file's blocks shifted by one, reported as success. Every block answer
// echoes its block number, which is what tells them apart.
struct Expected {
    // Counted: the opening answer of a read, a listing or the state query,
    // which must carry block number, block count and size.
    enum class Kind { Opening, Counted, ReadBlock, WriteBlock } kind;
    uint32_t blockNumber;    // the block asked for (block requests)
    uint32_t previousBlock;  // the block number of the request sent before this one
};

// The block number of the last request sent, 0 for text requests and
// announcements. A transfer's last block may still be answered while the
// next request (a listing after an upload) waits for its answer.
uint32_t lastBlockSent = 0;

bool AcceptsAnswer(const void *context, const uint8_t *payload, uint16_t length) {
    const auto &expected = *static_cast<const Expected *>(context);
    uint32_t echoed = 0;
    uint16_t position = 0;
    if (length >= kBlockHeaderSize) GetBigEndian(payload, &echoed, 4, &position);
    switch (expected.kind) {
        case Expected::Kind::ReadBlock:
            // A block answer without its number cannot be told from another's.
            return length >= kBlockHeaderSize && echoed == expected.blockNumber;
        case Expected::Kind::WriteBlock:
            // Controllers may answer a data block without data: taken as it is.
            return length < kBlockHeaderSize || echoed == expected.blockNumber;
        case Expected::Kind::Counted:
            // Fewer than its three numbers is no opening answer of a read:
            // a late answer to a text command or a data block (4 bytes) would
            // otherwise announce an empty file, or an empty folder.
            if (length < kAnnouncementHeaderSize) return false;
            [[fallthrough]];
        case Expected::Kind::Opening:
            // An opening answer's first number has no meaning of its own; one
            // that repeats the block just sent before is that block's answer.
            return length < kBlockHeaderSize || expected.previousBlock == 0 || echoed != expected.previousBlock;
    }
    return true;
}

// Sends `length` bytes of CommandPayload and waits for the answer `kind`
// names; on success *answerLength holds the answer's payload length.
uint8_t Send(Request request, uint8_t address, uint16_t length, Expected::Kind kind, uint16_t *answerLength) {
    uint32_t blockNumber = 0;
    if (kind == Expected::Kind::ReadBlock || kind == Expected::Kind::WriteBlock) {
        uint16_t position = 0;
        GetBigEndian(CommandPayload, &blockNumber, 4, &position);
    }
    const Expected expected{kind, blockNumber, lastBlockSent};
    lastBlockSent = blockNumber;
    *answerLength = length;
    return request(address, answerLength, CommandPayload, {AcceptsAnswer, &expected});
}

uint8_t SendTextRequest(uint8_t address, std::string_view text, Expected::Kind kind, uint16_t *answerLength) {
    if (text.size() > kMaxTextRequestText) return kResultTextTooLong;
    ClearPayloadHead();
    uint16_t position = 0;
    PutBigEndian(CommandPayload, 0, 4, &position);
    std::memcpy(CommandPayload + position, text.data(), text.size());
    return Send(core::ModbusReadFileReq, address, static_cast<uint16_t>(position + text.size()), kind, answerLength);
}

uint8_t SendBlockRequest(uint8_t address, uint32_t blockNumber, uint16_t *answerLength) {
    uint16_t position = 0;
    PutBigEndian(CommandPayload, blockNumber, 4, &position);
    return Send(core::ModbusReadFileReq, address, position, Expected::Kind::ReadBlock, answerLength);
}

uint8_t SendAnnouncement(uint8_t address, int32_t size, std::string_view text) {
    if (text.size() > kMaxAnnouncementText) return kResultTextTooLong;
    ClearPayloadHead();
    uint16_t position = 0;
    PutBigEndian(CommandPayload, 0, 4, &position);
    PutBigEndian(CommandPayload, static_cast<uint32_t>(BlockCount(size)), 4, &position);
    PutBigEndian(CommandPayload, static_cast<uint32_t>(size), 4, &position);
    std::memcpy(CommandPayload + position, text.data(), text.size());
    uint16_t answerLength = 0;
    return Send(core::ModbusWriteFileReq, address, static_cast<uint16_t>(position + text.size()),
                Expected::Kind::Opening, &answerLength);
}

uint8_t SendDataBlock(uint8_t address, int32_t blockNumber, int32_t dataLength, const uint8_t *data,
                      uint16_t *answerLength) {
    if (dataLength < 0 || static_cast<size_t>(dataLength) > kMaxBlockData) return kResultTextTooLong;
    ClearPayloadHead();
    uint16_t position = 0;
    PutBigEndian(CommandPayload, static_cast<uint32_t>(blockNumber), 4, &position);
    if (dataLength > 0) std::memmove(CommandPayload + position, data, static_cast<size_t>(dataLength));
    return Send(core::ModbusWriteFileReq, address, static_cast<uint16_t>(position + dataLength),
                Expected::Kind::WriteBlock, answerLength);
}

// The three numbers at the head of a first answer.
struct FirstAnswer {
    uint32_t number;
    uint32_t blockCount;
    uint32_t totalSize;
};

// Header numbers an answer is too short to carry read as 0: otherwise the
// request's own bytes left in the buffer ("%Dir..." read as a block count)
// would send the command looping over blocks that do not exist.
void ClearBeyondAnswer(uint16_t answerLength, size_t headerSize) {
    if (answerLength < headerSize) std::memset(CommandPayload + answerLength, 0, headerSize - answerLength);
}

FirstAnswer ReadFirstAnswer(uint16_t answerLength) {
    ClearBeyondAnswer(answerLength, kAnnouncementHeaderSize);
    FirstAnswer answer{};
    uint16_t position = 0;
    GetBigEndian(CommandPayload, &answer.number, 4, &position);
    GetBigEndian(CommandPayload, &answer.blockCount, 4, &position);
    GetBigEndian(CommandPayload, &answer.totalSize, 4, &position);
    return answer;
}

// Appends a block answer's data (offset 4 to its end) to `out` at *written,
// dropping what does not fit in `capacity`.
void AppendBlockData(uint16_t answerLength, uint8_t *out, size_t capacity, size_t *written) {
    if (answerLength <= kBlockHeaderSize || *written >= capacity) return;
    const size_t n = std::min<size_t>(answerLength - kBlockHeaderSize, capacity - *written);
    std::memcpy(out + *written, CommandPayload + kBlockHeaderSize, n);
    *written += n;
}

// A text request followed by blocks 1..N, their data appended to `out`.
// No announcement can keep the client requesting: the blocks must add up to
// the announced size exactly (each block before the last bringing data,
// none going past the size), and once `out` is full the rest is declined
// with the abort block. A block count is signed, as the controller's
// numbers are everywhere.
uint8_t FetchBlocks(uint8_t address, std::string_view text, uint8_t *out, size_t capacity, size_t *written,
                    FirstAnswer *first, AbortTest abortRequested) {
    *written = 0;
    uint16_t answerLength = 0;
    if (const uint8_t code = SendTextRequest(address, text, Expected::Kind::Counted, &answerLength); code != 0) {
        return code;
    }
    *first = ReadFirstAnswer(answerLength);
    const auto count = static_cast<int32_t>(first->blockCount);
    const uint64_t size = first->totalSize;
    uint64_t received = 0;
    for (int32_t k = 1; k <= count; ++k) {
        if (*written >= capacity || (abortRequested && abortRequested())) {
            SendBlockRequest(address, AbortBlockNumber, &answerLength);
            return *written >= capacity ? 0 : kResultStopped;
        }
        if (const uint8_t code = SendBlockRequest(address, static_cast<uint32_t>(k), &answerLength); code != 0) {
            return code;
        }
        const uint64_t n = answerLength > kBlockHeaderSize ? answerLength - kBlockHeaderSize : 0;
        received += n;
        if (received > size || (n == 0 && k < count)) {
            if (k < count) SendBlockRequest(address, AbortBlockNumber, &answerLength);
            return kResultBlocksDisagree;
        }
        AppendBlockData(answerLength, out, capacity, written);
    }
    return received == size ? 0 : kResultBlocksDisagree;
}

}  // namespace

uint8_t NcListDir(uint8_t address, const char *text, uint32_t *total, uint8_t *listing, size_t capacity,
                  size_t *received, AbortTest abortRequested) {
    *total = 0;
    size_t written = 0;
    FirstAnswer first{};
    uint8_t code = FetchBlocks(address, text, listing, capacity, &written, &first, abortRequested);
    // Most often a late or repeated opening answer of an earlier listing:
    // the listing is begun once more. One that disagrees again fails.
    if (code == kResultBlocksDisagree) {
        code = FetchBlocks(address, text, listing, capacity, &written, &first, abortRequested);
    }
    if (received != nullptr) *received = written;
    if (code != 0) return code;
    *total = first.totalSize;
    return 0;
}

uint8_t NcReadFileBlock(uint8_t address, const char *fileName, uint8_t *block, int32_t *blockCount,
                        int32_t *fileSize, int32_t *blockNumber, int32_t *length) {
    uint16_t answerLength = 0;
    if (*blockNumber < 0) return 0;
    if (*blockNumber == 0) {
        const std::string_view name = fileName;
        *length = static_cast<int32_t>(kBlockHeaderSize + name.size());
        if (const uint8_t code = SendTextRequest(address, name, Expected::Kind::Counted, &answerLength); code != 0) {
            return code;
        }
        *length = answerLength;
        const FirstAnswer first = ReadFirstAnswer(answerLength);
        *blockNumber = static_cast<int32_t>(first.number);
        *blockCount = static_cast<int32_t>(first.blockCount);
        *fileSize = static_cast<int32_t>(first.totalSize);
        return 0;
    }
    *length = static_cast<int32_t>(kBlockHeaderSize);
    if (const uint8_t code = SendBlockRequest(address, static_cast<uint32_t>(*blockNumber), &answerLength);
        code != 0) {
        return code;
    }
    *length = answerLength;
    uint32_t number = 0;
    uint16_t position = 0;
    ClearBeyondAnswer(answerLength, kBlockHeaderSize);
    GetBigEndian(CommandPayload, &number, 4, &position);
    *blockNumber = static_cast<int32_t>(number);
    std::memset(block, 0, kBlockBufferSize);
    size_t written = 0;
    AppendBlockData(answerLength, block, kBlockSize, &written);
    return 0;
}

uint8_t NcWriteFileBlock(uint8_t address, const char *fileName, int32_t fileSize, int32_t blockNumber,
                         int32_t dataLength, const uint8_t *data) {
    if (blockNumber < 0) return 0;
    if (blockNumber == 0) return SendAnnouncement(address, fileSize, fileName);
    uint16_t answerLength = 0;
    return SendDataBlock(address, blockNumber, dataLength, data, &answerLength);
}

namespace {

uint8_t TextCommand(uint8_t address, const char *text) {
    uint16_t answerLength = 0;
    return SendTextRequest(address, text, Expected::Kind::Opening, &answerLength);
}

}  // namespace

uint8_t NcDeleteFile(uint8_t address, const char *text) { return TextCommand(address, text); }
uint8_t NcCreateDir(uint8_t address, const char *text) { return TextCommand(address, text); }
uint8_t NcDeleteDir(uint8_t address, const char *text) { return TextCommand(address, text); }

uint8_t NcSearchId(uint8_t address) {
    uint16_t answerLength = 0;
    return SendTextRequest(address, kSearchIdWord, Expected::Kind::Opening, &answerLength);
}

uint8_t NcSystemInfoState(uint8_t address, uint8_t *state, size_t capacity, size_t *received) {
    size_t written = 0;
    FirstAnswer first{};
    const uint8_t code = FetchBlocks(address, kSystemInfoStateWord, state, capacity, &written, &first, {});
    if (received != nullptr) *received = written;
    return code;
}

uint8_t NcNetDncRun(uint8_t address, int32_t size, int32_t blockNumber, int32_t *dataLength, uint8_t *data,
                    size_t capacity) {
    if (blockNumber < 0) return 0;
    if (blockNumber == 0) return SendAnnouncement(address, size, kNetDncRunWord);
    uint16_t answerLength = 0;
    if (const uint8_t code = SendDataBlock(address, blockNumber, *dataLength, data, &answerLength); code != 0) {
        return code;
    }
    size_t written = 0;
    AppendBlockData(answerLength, data, capacity, &written);
    *dataLength = static_cast<int32_t>(written);
    return 0;
}

}  // namespace nccmd
