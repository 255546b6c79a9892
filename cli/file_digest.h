// The SHA-256 of a whole local file, for the backup manifest (the format
// `sha256sum -c` reads). Data that arrives in pieces is hashed with
// journal::Sha256 directly.
#pragma once

#include <functional>
#include <string>

#include "platform/files.h"

namespace dncctl {

// The digest of what is left to read of `file`, as 64 lower-case hex digits,
// or "" with *error set. `stop` is asked between pieces, so a file of
// gigabytes does not hold Ctrl-C up; when it says so the result is "" with
// *error "stopped".
std::string Sha256OfFile(platform::File &file, const std::string &shown, const std::function<bool()> &stop, std::string *error);

}  // namespace dncctl
