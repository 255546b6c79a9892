// What passed through a transfer's block source or sink: how many bytes and
// their SHA-256, the two figures a journal line records for the data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "journal/sha256.h"

namespace journal {

class DataTally {
public:
    void Add(const void *data, size_t length) {
        hash_.Update(data, length);
        bytes_ += length;
    }
    uint64_t Bytes() const { return bytes_; }
    // Of everything added so far; asking does not disturb the count, so it
    // may be asked twice or in the middle of a transfer.
    std::string HexDigest() const {
        Sha256 copy = hash_;
        return copy.HexDigest();
    }

private:
    Sha256 hash_;
    uint64_t bytes_ = 0;
};

}  // namespace journal
