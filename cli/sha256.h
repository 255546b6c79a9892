// SHA-256 of bytes and of local files, through OpenSSL's libcrypto, for the
// backup manifest (the format `sha256sum -c` reads).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct evp_md_ctx_st;

namespace dncctl {

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void Update(const uint8_t *data, size_t length);
    // The digest as 64 lower-case hex digits; ends the hashing.
    std::string HexDigest();

private:
    evp_md_ctx_st *context_;
};

// The digest of a whole local file, or "" with *error set.
std::string Sha256OfFile(const std::string &path, std::string *error);

}  // namespace dncctl
