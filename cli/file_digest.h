// The SHA-256 of a whole local file, for the backup manifest (the format
// `sha256sum -c` reads). Data that arrives in pieces is hashed with
// journal::Sha256 directly.
#pragma once

#include <string>

namespace dncctl {

// The digest as 64 lower-case hex digits, or "" with *error set.
std::string Sha256OfFile(const std::string &path, std::string *error);

}  // namespace dncctl
