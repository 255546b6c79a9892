#include "journal/sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace journal {

struct Sha256::Context {
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(ctx); }
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
    if (context_->ctx == nullptr || EVP_DigestInit_ex(context_->ctx, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 is not available");
}

Sha256::~Sha256() = default;

void Sha256::Update(const void *data, size_t length) {
    if (length > 0) EVP_DigestUpdate(context_->ctx, data, length);
}

std::string Sha256::HexDigest() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(context_->ctx, digest, &size);
    EVP_DigestInit_ex(context_->ctx, EVP_sha256(), nullptr);
    static const char hex[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (unsigned int i = 0; i < size; ++i) {
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 0x0F];
    }
    return text;
}

std::string Sha256Hex(const void *data, size_t length) {
    Sha256 hash;
    hash.Update(data, length);
    return hash.HexDigest();
}

}  // namespace journal
