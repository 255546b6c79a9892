// The address book file with arbitrary contents, read as the window reads
// it at every set-up: the stored link kind, then each device's address
// text, which goes to the network link as it stands. Every text must stay
// inside its 40-byte entry, and writing the book back and reading it again
// must give the same bytes.
#include <stdlib.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/address_book.h"

namespace {

const std::string &ScratchFile() {
    static const std::string path = [] {
        char pattern[] = "/tmp/ipaddr-fuzz-XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd < 0) abort();
        close(fd);
        static std::string name = pattern;
        std::atexit([] { unlink(name.c_str()); });
        return std::string(pattern);
    }();
    return path;
}

void WriteWhole(const std::string &path, const uint8_t *data, size_t size) {
    FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size) abort();
    std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string &path = ScratchFile();
    WriteWhole(path, data, size);
    std::memset(AddressBook, 0, sizeof AddressBook);
    if (ReadAddressBookFile(path.c_str()) != AddressBookIo::Ok) abort();

    volatile uint8_t kind = StoredLinkKind();
    (void)kind;
    for (long id = -1; id <= kAddressBookEntries; ++id) {
        const std::string text = AddressText(id);
        if (text.size() > kMaxAddressLength || text.find('\0') != std::string::npos) abort();
        volatile in_addr_t address = inet_addr(text.c_str());
        (void)address;
        if (id >= 1 && id < kAddressBookEntries && !SetAddressText(id, text)) abort();
    }

    uint8_t before[kAddressBookSize];
    std::memcpy(before, AddressBook, sizeof before);
    if (WriteAddressBookFile(path.c_str()) != AddressBookIo::Ok) abort();
    std::memset(AddressBook, 0, sizeof AddressBook);
    if (ReadAddressBookFile(path.c_str()) != AddressBookIo::Ok) abort();
    if (std::memcmp(before, AddressBook, sizeof before) != 0) abort();
    return 0;
}
