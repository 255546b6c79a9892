#include "cli/file_digest.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "journal/sha256.h"

namespace dncctl {

std::string Sha256OfFd(int fd, const std::string &shown, const std::function<bool()> &stop, std::string *error) {
    journal::Sha256 hash;
    uint8_t buffer[64 * 1024];
    for (;;) {
        if (stop && stop()) {
            *error = "stopped";
            return "";
        }
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = "cannot read " + shown + ": " + std::strerror(errno);
            return "";
        }
        if (n == 0) break;
        hash.Update(buffer, size_t(n));
    }
    return hash.HexDigest();
}

}  // namespace dncctl
