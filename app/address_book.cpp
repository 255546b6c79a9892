#include "app/address_book.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>


uint8_t AddressBook[kAddressBookSize];

AddressBookIo ReadAddressBookFile(const char *path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? AddressBookIo::Missing : AddressBookIo::Failed;
    bool ok = ::lseek(fd, 0, SEEK_END) >= 0 && ::lseek(fd, 0, SEEK_SET) == 0;
    size_t done = 0;
    while (ok && done < kAddressBookSize) {
        const ssize_t n = ::read(fd, AddressBook + done, kAddressBookSize - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) ok = false;
    return ok ? AddressBookIo::Ok : AddressBookIo::Failed;
}

AddressBookIo WriteAddressBookFile(const char *path) {
    // No O_TRUNC: bytes of a longer file beyond the book stay as they were.
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return AddressBookIo::Failed;
    bool ok = true;
    size_t done = 0;
    while (done < kAddressBookSize) {
        const ssize_t n = ::pwrite(fd, AddressBook + done, kAddressBookSize - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) ok = false;
    return ok ? AddressBookIo::Ok : AddressBookIo::Failed;
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
