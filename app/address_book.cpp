#include "app/address_book.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

uint8_t AddressBook[kAddressBookSize];

namespace {

// The file's name as UTF-8, whatever the system's own encoding of names.
std::filesystem::path PathOf(const char *path) {
    return std::filesystem::path(reinterpret_cast<const char8_t *>(path));
}

}  // namespace

AddressBookIo ReadAddressBookFile(const char *path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(PathOf(path), error);
    if (status.type() == std::filesystem::file_type::not_found) return AddressBookIo::Missing;
    if (error || status.type() == std::filesystem::file_type::directory) return AddressBookIo::Failed;
    std::ifstream file(PathOf(path), std::ios::binary);
    if (!file) return AddressBookIo::Failed;
    // A shorter file fills the front of the book; the rest keeps its bytes.
    file.read(reinterpret_cast<char *>(AddressBook), kAddressBookSize);
    return file.bad() ? AddressBookIo::Failed : AddressBookIo::Ok;
}

AddressBookIo WriteAddressBookFile(const char *path) {
    // Opened without truncating: bytes of a longer file beyond the book stay
    // as they were. A missing file is created first.
    std::error_code error;
    if (!std::filesystem::exists(PathOf(path), error) && !error) std::ofstream(PathOf(path), std::ios::binary);
    std::fstream file(PathOf(path), std::ios::in | std::ios::out | std::ios::binary);
    if (!file) return AddressBookIo::Failed;
    file.write(reinterpret_cast<const char *>(AddressBook), kAddressBookSize);
    file.close();
    return file.fail() ? AddressBookIo::Failed : AddressBookIo::Ok;
}

uint8_t StoredLinkKind() { return AddressBook[0]; }

void SetStoredLinkKind(uint8_t kind) { AddressBook[0] = kind; }

std::string AddressText(long id) {
    if (id < 1 || id >= kAddressBookEntries) return {};
    const char *entry = reinterpret_cast<const char *>(AddressBook + id * kAddressEntrySize);
    return std::string(entry, strnlen(entry, kMaxAddressLength));
}

bool SetAddressText(long id, const std::string &text) {
    if (id < 1 || id >= kAddressBookEntries || text.size() > kMaxAddressLength) return false;
    uint8_t *entry = AddressBook + id * kAddressEntrySize;
    std::memcpy(entry, text.data(), text.size());
    entry[text.size()] = 0;
    return true;
}
