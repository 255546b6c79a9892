// Decoding of directory listings and state records. Everything here reads
// only inside the bytes it is given: controllers are not trusted to
// terminate their texts or to send whole records.
#include <cstring>

#include "nccmd/nc_commands.h"

namespace nccmd {

namespace {

// A zero-terminated text in a fixed field; a field without a zero is taken
// whole instead of running into the next field.
std::string FieldText(const uint8_t *field, size_t size) {
    const void *zero = std::memchr(field, 0, size);
    const size_t length = zero != nullptr ? static_cast<size_t>(static_cast<const uint8_t *>(zero) - field) : size;
    return std::string(reinterpret_cast<const char *>(field), length);
}

}  // namespace

ListingEntry DecodeListingEntry(const uint8_t *bytes) {
    ListingEntry entry;
    entry.attribute = bytes[0];
    entry.name = FieldText(bytes + kListingNameOffset, kListingNameSize);
    entry.extension = FieldText(bytes + kListingExtOffset, kListingExtSize);
    entry.size = GetLittleEndian32(bytes + kListingSizeOffset);
    return entry;
}

std::vector<ListingEntry> DecodeListing(const uint8_t *listing, size_t length) {
    std::vector<ListingEntry> entries;
    entries.reserve(length / kListingEntrySize);
    for (size_t offset = 0; offset + kListingEntrySize <= length; offset += kListingEntrySize) {
        entries.push_back(DecodeListingEntry(listing + offset));
    }
    return entries;
}

int32_t AbnormalCode(const uint8_t *record, size_t length) {
    if (length < kAbnormalCodeOffset + 4) return 0;
    return static_cast<int32_t>(GetLittleEndian32(record + kAbnormalCodeOffset));
}

uint8_t BlockTaken(const uint8_t *record, size_t length) {
    return length > kBlockTakenOffset ? record[kBlockTakenOffset] : 0;
}

}  // namespace nccmd
