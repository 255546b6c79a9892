// The device address book: 101 entries of 40 bytes, indexed by device ID.
// Entry 0's first byte is the stored link kind; entries 1..100 hold the
// zero-terminated IP text of that device. IpAddr.dat in the working
// directory is its exact byte image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr int kAddressBookEntries = 101;
inline constexpr size_t kAddressEntrySize = 40;
inline constexpr size_t kAddressBookSize = kAddressBookEntries * kAddressEntrySize;  // 4040
inline constexpr size_t kMaxAddressLength = kAddressEntrySize - 1;                // 39
inline constexpr const char *kAddressBookFile = "IpAddr.dat";

// Zero at program start, loaded at every set-up, never freed.
extern uint8_t AddressBook[kAddressBookSize];

enum class AddressBookIo {
    Ok,
    Missing,  // no file yet: a first start
    Failed,   // the file exists but could not be read or written
};

// Plain file operations, without any message.
// Reads up to 4040 bytes from the start of the file; bytes a short file does
// not supply keep their content.
AddressBookIo ReadAddressBookFile(const char *path = kAddressBookFile);
// Writes the 4040 bytes at the start of the file without truncating it;
// creates the file when it does not exist yet.
AddressBookIo WriteAddressBookFile(const char *path = kAddressBookFile);

// As the window calls them: a missing file loads as a first start (no
// message) and is created by the first save; a file that exists but cannot
// be read shows the "File Error" box, one that cannot be written the
// "Open File Error" box.
void LoadAddressBook();
void SaveAddressBook();

uint8_t StoredLinkKind();
void SetStoredLinkKind(uint8_t kind);

// The IP text of device id: up to its terminating zero, at most 39
// characters even if an entry lacks the zero. Empty for IDs outside 1..100.
std::string AddressText(long id);

// Writes text and its terminating zero into entry id (1..100); the bytes
// after the zero keep what they held. False, and nothing written, when the
// text is longer than 39 characters or the ID is outside 1..100.
bool SetAddressText(long id, const std::string &text);
