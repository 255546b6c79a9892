// A remote file read back and compared with the bytes it should hold: the
// one comparison behind every verify and diff, in the window and in dncctl.
#pragma once

#include <cstddef>
#include <cstdint>

#include "nccmd/function_ref.h"
#include "nccmd/transfers.h"

namespace nccmd {

// The bytes the remote file should hold, in order: fills up to `length`
// bytes at `buffer` and returns how many it gave (fewer once they end), or
// -1 when they cannot be read (the source keeps its own reason).
using ExpectedSource = FunctionRef<int64_t(uint8_t *buffer, size_t length)>;

inline constexpr uint64_t kNoDifference = UINT64_MAX;

struct Comparison {
    // The read-back. Its localFailure means the expected bytes could not be
    // read; a read the comparer ended at a difference is not a failure.
    TransferResult read;
    // The size the controller announced; 0 before its opening answer.
    uint64_t remoteSize = 0;
    // The offset of the first byte that differs, or where the shorter side
    // ends; kNoDifference when they agree (or the read did not finish).
    uint64_t firstDifference = kNoDifference;

    bool Same() const { return read.Succeeded() && firstDifference == kNoDifference; }
};

// Reads `remotePath` and compares it with the `expectedSize` bytes of
// `expected`. With stopAtDifference the read ends (abort block) at the
// first block that differs; otherwise it reads to the end, so the
// controller's read ends as usual and the whole file is accounted for.
Comparison CompareRemoteFile(uint8_t address, const char *remotePath, uint64_t expectedSize, ExpectedSource expected,
                             bool stopAtDifference, ProgressFn progress = {}, AbortTest abortRequested = {});

}  // namespace nccmd
