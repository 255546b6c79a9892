#include "cli/file_digest.h"

#include <cstdint>

#include "journal/sha256.h"

namespace dncctl {

std::string Sha256OfFile(platform::File &file, const std::string &shown, const std::function<bool()> &stop, std::string *error) {
    journal::Sha256 hash;
    uint8_t buffer[64 * 1024];
    for (;;) {
        if (stop && stop()) {
            *error = "stopped";
            return "";
        }
        int failed = 0;
        const int64_t n = file.Read(buffer, sizeof buffer, &failed);
        if (n < 0) {
            *error = "cannot read " + shown + ": " + platform::ErrorText(failed);
            return "";
        }
        if (n == 0) break;
        hash.Update(buffer, size_t(n));
    }
    return hash.HexDigest();
}

}  // namespace dncctl
