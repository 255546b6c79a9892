#include "nccmd/compare_remote.h"

#include <algorithm>

namespace nccmd {

Comparison CompareRemoteFile(uint8_t address, const char *remotePath, uint64_t expectedSize, ExpectedSource expected,
                             bool stopAtDifference, ProgressFn progress, AbortTest abortRequested) {
    Comparison c;
    uint64_t offset = 0;
    bool unreadable = false;
    uint8_t mine[kBlockSize];
    auto sink = [&](const uint8_t *data, size_t length) {
        // Blocks are never longer than kBlockSize; the bound keeps it so.
        const size_t n = std::min(length, sizeof mine);
        const int64_t got = expected(mine, n);
        if (got < 0) {
            unreadable = true;
            return false;
        }
        for (size_t i = 0; i < length && c.firstDifference == kNoDifference; ++i) {
            if (i >= n || int64_t(i) >= got || data[i] != mine[i]) c.firstDifference = offset + i;
        }
        offset += length;
        return !(stopAtDifference && c.firstDifference != kNoDifference);
    };
    auto announced = [&](uint64_t done, uint64_t total) {
        c.remoteSize = total;
        if (progress) progress(done, total);
    };
    c.read = ReadRemoteFile(address, remotePath, sink, announced, abortRequested);
    c.read.localFailure = unreadable;
    if (c.read.Succeeded() && c.firstDifference == kNoDifference && offset != expectedSize)
        c.firstDifference = std::min(offset, expectedSize);
    return c;
}

}  // namespace nccmd
