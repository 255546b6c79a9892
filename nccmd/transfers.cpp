#include "nccmd/transfers.h"

#include <algorithm>
#include <cstring>

#include "core/request_engine.h"

namespace nccmd {

namespace {

void Report(ProgressFn progress, uint64_t done, uint64_t total) {
    if (progress) progress(done, total);
}

bool Asked(AbortTest test) { return test && test(); }

// Bytes of block k (1-based) of a file of `size` bytes: 512, the last one
// possibly shorter.
size_t PieceLength(int32_t size, int32_t k) {
    const int64_t start = int64_t(k - 1) * kBlockSize;
    return static_cast<size_t>(std::min<int64_t>(kBlockSize, std::max<int64_t>(0, size - start)));
}

constexpr auto kAbortBlock = static_cast<int32_t>(AbortBlockNumber);

// Block k of a read announced as `count` blocks and `size` bytes carries
// `n` bytes after `before` bytes: every block but the last is whole, and the
// last one ends the file at its announced size. An opening answer that came
// late from an earlier read (frames carry no sequence number, and an opening
// answer echoes no block number) announces another file's count and size;
// this is what catches it before a file cut short is reported as whole.
bool FitsAnnouncement(int32_t size, int32_t count, int32_t k, size_t n, uint64_t before) {
    if (k < count) return n == kBlockSize;
    return size >= 0 && before + n == uint64_t(size);
}

}  // namespace

namespace {

TransferResult ReadOnce(uint8_t address, const char *remotePath, BlockSink sink, ProgressFn progress,
                        AbortTest abortRequested) {
    TransferResult result;
    uint8_t block[kBlockBufferSize];
    int32_t blockCount = 0;
    int32_t fileSize = 0;
    int32_t number = 0;
    int32_t length = 0;
    result.code = NcReadFileBlock(address, remotePath, block, &blockCount, &fileSize, &number, &length);
    if (result.code != 0) return result;
    // An announcement whose count cannot hold its size (count 0 for 1000
    // bytes, a negative size) would otherwise end as an empty or short file
    // reported whole.
    if (fileSize < 0 || blockCount != BlockCount(fileSize)) {
        result.code = kResultBlocksDisagree;
        if (blockCount > 0) {
            number = kAbortBlock;
            NcReadFileBlock(address, remotePath, block, &blockCount, &fileSize, &number, &length);
        }
        return result;
    }
    const uint64_t total = uint64_t(fileSize);
    Report(progress, 0, total);

    for (int32_t k = 1; k <= blockCount; ++k) {
        // The controller learns of an abort from a block number beyond the
        // announced count; a failing sink ends the read the same way.
        if (Asked(abortRequested)) {
            result.aborted = true;
            k = kAbortBlock;
        }
        number = k;
        result.code = NcReadFileBlock(address, remotePath, block, &blockCount, &fileSize, &number, &length);
        if (result.code != 0 || k == kAbortBlock) return result;
        const auto n = static_cast<size_t>(BlockDataLength(length));
        if (!FitsAnnouncement(fileSize, blockCount, k, n, result.bytesDone)) {
            result.code = kResultBlocksDisagree;
            if (k < blockCount) {
                number = kAbortBlock;
                NcReadFileBlock(address, remotePath, block, &blockCount, &fileSize, &number, &length);
            }
            return result;
        }
        if (!sink(block, n)) {
            result.localFailure = true;
            number = kAbortBlock;
            NcReadFileBlock(address, remotePath, block, &blockCount, &fileSize, &number, &length);
            return result;
        }
        result.bytesDone += n;
        Report(progress, result.bytesDone, total);
    }
    return result;
}

}  // namespace

TransferResult ReadRemoteFile(uint8_t address, const char *remotePath, BlockSink sink, ProgressFn progress,
                              AbortTest abortRequested) {
    // An opening answer that disagrees with its blocks is most often a late
    // or repeated opening answer of an earlier read (it echoes no block
    // number): the read is begun once more, as long as nothing reached the
    // sink. A controller that really announces what it does not hold fails
    // the second time too.
    TransferResult result = ReadOnce(address, remotePath, sink, progress, abortRequested);
    if (result.code == kResultBlocksDisagree && result.bytesDone == 0 && !result.aborted) {
        result = ReadOnce(address, remotePath, sink, progress, abortRequested);
    }
    return result;
}

TransferResult WriteRemoteFile(uint8_t address, const char *remotePath, int32_t size, BlockSource source,
                               ProgressFn progress, AbortTest abortRequested) {
    TransferResult result;
    if (size < 0) {
        result.code = kResultTextTooLong;
        return result;
    }
    result.code = NcWriteFileBlock(address, remotePath, size, 0, 0, nullptr);
    if (result.code != 0) return result;
    Report(progress, 0, uint64_t(size));

    uint8_t block[kBlockBufferSize];
    const int32_t blockCount = BlockCount(size);
    for (int32_t k = 1; k <= blockCount; ++k) {
        std::memset(block, 0, sizeof block);
        const size_t n = PieceLength(size, k);
        int32_t number = k;
        // The abort block carries the piece that would have gone next.
        if (Asked(abortRequested)) {
            result.aborted = true;
            number = kAbortBlock;
        }
        if (!source(block, n)) {
            // End the write on the controller rather than leave it holding
            // a file cut short without knowing.
            result.localFailure = true;
            std::memset(block, 0, sizeof block);
            result.code = NcWriteFileBlock(address, remotePath, size, kAbortBlock, 0, block);
            return result;
        }
        result.code = NcWriteFileBlock(address, remotePath, size, number, static_cast<int32_t>(n), block);
        if (result.code != 0 || number == kAbortBlock) return result;
        result.bytesDone += n;
        Report(progress, result.bytesDone, uint64_t(size));
    }
    return result;
}

TransferResult RunDncStream(uint8_t address, int32_t size, const DncCallbacks &callbacks) {
    TransferResult result;
    if (size < 0) {
        result.code = kResultTextTooLong;
        return result;
    }
    int32_t unusedLength = 0;
    uint8_t buffer[kDncBufferSize];
    result.code = NcNetDncRun(address, size, 0, &unusedLength, buffer);
    if (result.code != 0) return result;
    Report(callbacks.progress, 0, uint64_t(size));

    uint8_t copy[kBlockSize];
    const int32_t blockCount = BlockCount(size);
    bool stopReported = false;
    for (int32_t k = 1; k <= blockCount; ++k) {
        int32_t number = k;
        if (Asked(callbacks.stopRequested)) number = kAbortBlock;
        const size_t n = PieceLength(size, k);
        std::memset(copy, 0, sizeof copy);
        if (!callbacks.source(copy, n)) {
            // Tell the controller the stream has ended rather than leave it
            // waiting for blocks that will never come.
            result.localFailure = true;
            int32_t none = 0;
            result.code = NcNetDncRun(address, size, kAbortBlock, &none, buffer);
            return result;
        }
        // The controller takes block 1 with CR in place of a leading '%';
        // a '%' anywhere else goes unchanged.
        if (number == 1 && n > 0 && copy[0] == '%') copy[0] = '\r';
        if (callbacks.blockSent) callbacks.blockSent(copy, n);

        int32_t damagedRecords = 0;
        for (;;) {
            std::memcpy(buffer, copy, n);
            int32_t length = static_cast<int32_t>(n);
            result.code = NcNetDncRun(address, size, number, &length, buffer);
            if (result.code != 0) return result;
            if (length <= 0 || number == blockCount) break;
            const auto recordLength = static_cast<size_t>(length);
            // A record of 1 to 15 bytes is neither "no data" nor a record that
            // can say whether the block was taken: the same block goes again,
            // as often as the engine would try a request, and a controller
            // that never sends a whole record ends the run.
            if (recordLength < kStateRecordMinSize) {
                if (++damagedRecords > std::max(core::CurrentEngineSettings().retries, 0)) {
                    result.code = kResultDamagedStateRecord;
                    return result;
                }
                continue;
            }
            damagedRecords = 0;
            if (const int32_t abnormal = AbnormalCode(buffer, recordLength); abnormal != 0) {
                result.abnormalCode = abnormal;
                return result;
            }
            if (BlockTaken(buffer, recordLength) != 0) break;
            // A busy controller holds up the stop: say so once, whether the
            // block in hand becomes the abort block now or already went out
            // as one because the stop came before it was read.
            if (Asked(callbacks.stopRequested)) {
                if (!stopReported && callbacks.stopWhileBusy) callbacks.stopWhileBusy();
                stopReported = true;
                number = kAbortBlock;
            }
        }
        if (number == kAbortBlock) {
            result.aborted = true;
            Report(callbacks.progress, uint64_t(size), uint64_t(size));
            return result;
        }
        result.bytesDone += n;
        Report(callbacks.progress, result.bytesDone, uint64_t(size));
    }
    return result;
}

std::string DirListText(const std::string &path) { return std::string(kDirListWord) + path; }

uint8_t ListRemoteDirectory(uint8_t address, const std::string &path, std::vector<ListingEntry> *entries,
                            AbortTest abortRequested) {
    static uint8_t listing[kListingBufferSize];  // one command at a time in the whole process
    uint32_t total = 0;
    size_t received = 0;
    const std::string text = DirListText(path);
    const uint8_t code =
        NcListDir(address, text.c_str(), &total, listing, sizeof listing, &received, abortRequested);
    entries->clear();
    if (code != 0) return code;
    *entries = DecodeListing(listing, std::min<size_t>(total, received));
    return 0;
}

}  // namespace nccmd
