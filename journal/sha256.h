// SHA-256 over data that arrives in pieces (blocks of a transfer), through
// OpenSSL's EVP interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace journal {

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void Update(const void *data, size_t length);
    // The digest as 64 lowercase hex digits. The object starts afresh after.
    std::string HexDigest();

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

// The digest of one piece of data.
std::string Sha256Hex(const void *data, size_t length);

}  // namespace journal
