// The SHA-256 of a whole local file, for the backup manifest (the format
// `sha256sum -c` reads). Data that arrives in pieces is hashed with
// journal::Sha256 directly.
#pragma once

#include <functional>
#include <string>

namespace dncctl {

// The digest of what is left to read of `fd`, as 64 lower-case hex digits,
// or "" with *error set. `stop` is asked between pieces, so a file of
// gigabytes does not hold Ctrl-C up; when it says so the result is "" with
// *error "stopped".
std::string Sha256OfFd(int fd, const std::string &shown, const std::function<bool()> &stop, std::string *error);

}  // namespace dncctl
