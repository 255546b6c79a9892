// SHA-256 over data that arrives in pieces (blocks of a transfer). Written
// out here rather than taken from a crypto library: the journal and the
// backup manifest need nothing else from one, and the programs then build
// the same way on every system.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace journal {

class Sha256 {
public:
    Sha256();

    void Update(const void *data, size_t length);
    // The digest as 64 lowercase hex digits. The object starts afresh after.
    std::string HexDigest();

private:
    void Reset();
    void Compress(const uint8_t *block);

    std::array<uint32_t, 8> state_{};
    std::array<uint8_t, 64> pending_{};  // the start of a block not yet compressed
    size_t pendingLength_ = 0;
    uint64_t totalBytes_ = 0;
};

// The digest of one piece of data.
std::string Sha256Hex(const void *data, size_t length);

}  // namespace journal
