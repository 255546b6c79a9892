#include "file_digest.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "sha256.h"

namespace dncctl {

std::string Sha256OfFile(const std::string &path, std::string *error) {
    FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return "";
    }
    journal::Sha256 hash;
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
