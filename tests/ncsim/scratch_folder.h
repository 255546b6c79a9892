// A fresh folder of the test's own in the system's temporary folder.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <system_error>

namespace testing_scratch {

// Created, not merely named, so no other test can have it; empty on failure.
inline std::filesystem::path MakeScratchFolder(const std::string &prefix) {
    std::error_code error;
    const std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error) return {};
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate = base / (prefix + "-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate, error)) return candidate;
        if (error) return {};
    }
    return {};
}

// A file's bytes, whole; and a file written with exactly these bytes.
inline std::string Slurp(const std::filesystem::path &p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void Spill(const std::filesystem::path &p, const std::string &data) {
    std::ofstream(p, std::ios::binary) << data;
}

}  // namespace testing_scratch
