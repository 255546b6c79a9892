// The simulated controller's request handling on a scratch storage folder
// that holds links pointing outside it: whatever the requests, nothing
// outside the folder may change.
//
// Input: requests one after the other, each a function byte (even: 0x24
// read, odd: 0x25 write, 0xFF: any code), a 16-bit length and that many
// payload bytes. Payload bytes 0x80..0x8F name one of a few useful texts
// (command words, paths, the names of the links) so the requests reach
// deep into the storage without a dictionary.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ncsim/controller.h"
#include "tests/fuzz/fuzz_input.h"
#include "ncsim/simulator.h"
#include "ncsim/storage.h"

namespace fs = std::filesystem;

namespace {

const char *const kTexts[] = {
    "%DirList%%",  "%DeleteFile%", "%CreateDir%", "%DeleteDir%", "%SearchId", "%SystemInfoState",
    "%NetDNCRun",  "\\",           "\\PRG\\",     "OUT",         "SECRET.NC", "..",
    "\\OUT\\",     "O0001.CNC",    "\\PRG\\SECRET.NC", "\\DATA\\",
};

struct Scratch {
    fs::path base;
    fs::path root;
    fs::path outside;
    std::map<std::string, std::string> outsideBefore;
    ncsim::Storage storage;
    std::unique_ptr<ncsim::Controller> controller;
};

std::map<std::string, std::string> Snapshot(const fs::path &folder) {
    std::map<std::string, std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(folder)) {
        std::string content;
        if (entry.is_regular_file()) {
            std::ifstream in(entry.path(), std::ios::binary);
            content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        files[entry.path().lexically_relative(folder).string()] = content;
    }
    return files;
}

Scratch &Setup() {
    static Scratch *scratch = [] {
        auto *s = new Scratch;
        char pattern[] = "/tmp/ncsim-fuzz-XXXXXX";
        if (mkdtemp(pattern) == nullptr) abort();
        s->base = pattern;
        s->root = s->base / "root";
        s->outside = s->base / "outside";
        fs::create_directories(s->root);
        fs::create_directories(s->outside / "DEEP");
        std::ofstream(s->outside / "SECRET.NC") << "O9999 (NOT YOURS)\n";
        std::ofstream(s->outside / "DEEP" / "KEEP.NC") << "M30\n";
        if (!ncsim::WriteSampleTree(s->root.string())) abort();
        fs::create_directory_symlink(s->outside, s->root / "OUT");
        fs::create_symlink(s->outside / "SECRET.NC", s->root / "PRG" / "SECRET.NC");
        s->outsideBefore = Snapshot(s->outside);
        if (!s->storage.Open(s->root.string())) abort();
        s->controller = std::make_unique<ncsim::Controller>(s->storage, ncsim::DncSettings{});
        static fs::path base = s->base;
        std::atexit([] { std::error_code ignored; fs::remove_all(base, ignored); });
        return s;
    }();
    return *scratch;
}

// At most 1024 bytes: the most a frame carries.
std::vector<uint8_t> Expand(const std::vector<uint8_t> &raw) {
    std::vector<uint8_t> out;
    for (uint8_t b : raw) {
        const std::string_view text = b >= 0x80 && b < 0x80 + std::size(kTexts)
                                          ? std::string_view(kTexts[b - 0x80])
                                          : std::string_view(reinterpret_cast<const char *>(&b), 1);
        for (char c : text) {
            if (out.size() < 1024) out.push_back(static_cast<uint8_t>(c));
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Scratch &s = Setup();
    fuzzing::Input input(data, size);
    while (!input.empty()) {
        const uint8_t selector = input.Byte();
        const uint8_t function = selector == 0xFF ? input.Byte() : (selector % 2 ? 0x25 : 0x24);
        const std::vector<uint8_t> payload = Expand(input.Bytes(input.Word() % 1025));
        s.controller->Handle(function, payload.data(), payload.size());
    }
    if (Snapshot(s.outside) != s.outsideBefore) {
        std::fprintf(stderr, "a request changed a file outside the served folder\n");
        abort();
    }
    return 0;
}
