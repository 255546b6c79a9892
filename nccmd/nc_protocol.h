// The controller's file-service protocol as it rides in frame payloads:
// command words, request and answer shapes, the listing entry and the state
// record. Shared by the program's commands and the simulated controller, so
// both ends agree by construction. Plain data and inline helpers only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace nccmd {

// Payload buffer size of every request and answer.
inline constexpr size_t kCommandPayloadSize = 1024;

// Files move in numbered 512-byte blocks after an opening exchange numbered 0.
inline constexpr uint32_t kBlockSize = 512;
// Sent in place of a block number when the operator aborts a transfer.
inline constexpr uint32_t AbortBlockNumber = 0x0FFFFFFF;

// Counted in 64 bits: for sizes within 511 bytes of 2 GiB, size + 511 would
// wrap a 32-bit count negative and announce a file with no blocks.
inline constexpr int32_t BlockCount(int32_t size) { return static_cast<int32_t>((int64_t(size) + 511) / 512); }

// Header lengths: text and block requests, block answers carry a 4-byte
// number first; an announcement carries block 0, block count, total size.
inline constexpr size_t kBlockHeaderSize = 4;
inline constexpr size_t kAnnouncementHeaderSize = 12;
// Offsets of the numbers in a first answer (of a read, listing or query).
inline constexpr size_t kFirstAnswerBlockCount = 4;
inline constexpr size_t kFirstAnswerTotalSize = 8;

// Command words, sent without a terminating zero.
inline constexpr std::string_view kDirListWord = "%DirList%%";  // followed by the path
inline constexpr std::string_view kDeleteFileWord = "%DeleteFile%";
inline constexpr std::string_view kCreateDirWord = "%CreateDir%";
inline constexpr std::string_view kDeleteDirWord = "%DeleteDir%";
inline constexpr std::string_view kSearchIdWord = "%SearchId";
inline constexpr std::string_view kSystemInfoStateWord = "%SystemInfoState";
inline constexpr std::string_view kNetDncRunWord = "%NetDNCRun";

// Header numbers are unsigned 32-bit, most significant byte first, written
// and read at a running byte position.
inline void PutBigEndian(uint8_t *buffer, uint32_t value, int n, uint16_t *position) {
    for (int i = 0; i < n; ++i) buffer[(*position)++] = static_cast<uint8_t>(value >> (8 * (n - 1 - i)));
}

inline void GetBigEndian(const uint8_t *buffer, uint32_t *result, int n, uint16_t *position) {
    *result = 0;
    for (int i = 0; i < n; ++i) *result |= static_cast<uint32_t>(buffer[(*position)++]) << (8 * (n - 1 - i));
}

// Numbers the controller fills inside answer data are least significant first.
inline uint32_t GetLittleEndian32(const uint8_t *bytes) {
    return bytes[0] | (uint32_t(bytes[1]) << 8) | (uint32_t(bytes[2]) << 16) | (uint32_t(bytes[3]) << 24);
}

inline void PutLittleEndian32(uint8_t *bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

// One directory entry of a listing; entries follow each other without gaps.
inline constexpr size_t kListingEntrySize = 20;
inline constexpr size_t kListingNameOffset = 1;
inline constexpr size_t kListingNameSize = 9;  // zero-terminated text
inline constexpr size_t kListingExtOffset = 10;
inline constexpr size_t kListingExtSize = 6;   // zero-terminated text
inline constexpr size_t kListingSizeOffset = 16;  // little-endian
inline constexpr uint8_t kAttributeDirectory = 0x10;
inline constexpr uint8_t kAttributeFile = 0x20;
// Up to 16 reads as a directory, anything greater as a file.
inline constexpr bool IsDirectoryAttribute(uint8_t attribute) { return attribute <= kAttributeDirectory; }

// The controller's state record (answer data after the 4-byte block number).
inline constexpr size_t kAbnormalCodeOffset = 8;  // signed 32-bit, little-endian
inline constexpr size_t kBlockTakenOffset = 15;   // non-zero: next block may follow
inline constexpr size_t kStateRecordMinSize = 16;

// Caller-side buffers. A block buffer holds one block and a terminating zero,
// so a block of text can be used as a string. A listing buffer holds 1024
// entries. State and DNC buffers hold a whole answer's data: the controller
// decides the state record's length, and a DNC buffer also carries the
// block being sent.
inline constexpr size_t kBlockBufferSize = kBlockSize + 1;
inline constexpr size_t kListingBufferSize = 1024 * kListingEntrySize;
inline constexpr size_t kStateBufferSize = kCommandPayloadSize;
inline constexpr size_t kDncBufferSize = kCommandPayloadSize;

// The longest text that fits behind each request header.
inline constexpr size_t kMaxTextRequestText = kCommandPayloadSize - kBlockHeaderSize;           // 1020
inline constexpr size_t kMaxAnnouncementText = kCommandPayloadSize - kAnnouncementHeaderSize;  // 1012
inline constexpr size_t kMaxBlockData = kCommandPayloadSize - kBlockHeaderSize;                // 1020

}  // namespace nccmd
