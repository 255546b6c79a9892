#include "sha256.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace dncctl {

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
    if (context_ == nullptr || EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) != 1) throw std::bad_alloc();
}

Sha256::~Sha256() { EVP_MD_CTX_free(context_); }

void Sha256::Update(const uint8_t *data, size_t length) {
    if (length > 0) EVP_DigestUpdate(context_, data, length);
}

std::string Sha256::HexDigest() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_, digest, &length);
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 0xF];
    }
    return text;
}

std::string Sha256OfFile(const std::string &path, std::string *error) {
    FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return "";
    }
    Sha256 hash;
    uint8_t buffer[64 * 1024];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) hash.Update(buffer, n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        *error = "cannot read " + path;
        return "";
    }
    return hash.HexDigest();
}

}  // namespace dncctl
