#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "nccmd/nc_commands.h"

namespace {

using nccmd::DecodeListing;
using nccmd::DecodeListingEntry;

// Writes one 20-byte entry; name and extension fill their fields exactly as
// given (no terminating zero is added when they are full length).
void PutEntry(uint8_t *at, uint8_t attribute, const char *name, const char *ext, uint32_t size) {
    std::memset(at, 0, nccmd::kListingEntrySize);
    at[0] = attribute;
    std::memcpy(at + 1, name, std::min<size_t>(std::strlen(name), 9));
    std::memcpy(at + 10, ext, std::min<size_t>(std::strlen(ext), 6));
    nccmd::PutLittleEndian32(at + 16, size);
}

TEST(ListingDecode, FieldsAndTrailingBytesIgnored) {
    uint8_t listing[45];
    std::memset(listing, 0xEE, sizeof listing);
    PutEntry(listing, 0x10, "PRG", "", 0);
    PutEntry(listing + 20, 0x20, "O1234", "NC", 0x01020304);
    const auto entries = DecodeListing(listing, sizeof listing);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_TRUE(entries[0].IsDirectory());
    EXPECT_EQ(entries[0].name, "PRG");
    EXPECT_FALSE(entries[1].IsDirectory());
    EXPECT_EQ(entries[1].name, "O1234");
    EXPECT_EQ(entries[1].extension, "NC");
    EXPECT_EQ(entries[1].size, 0x01020304u);  // least significant byte first
}

TEST(ListingDecode, AttributeUpToSixteenIsADirectory) {
    const struct {
        uint8_t attribute;
        bool directory;
    } cases[] = {{0x00, true}, {0x10, true}, {0x11, false}, {0x20, false}, {0xFF, false}};
    for (const auto &c : cases) {
        uint8_t entry[20];
        PutEntry(entry, c.attribute, "A", "B", 1);
        EXPECT_EQ(DecodeListingEntry(entry).IsDirectory(), c.directory) << int(c.attribute);
    }
}

// A name or extension filling its field without a zero stops at the field's
// end instead of running into the next field or past the buffer.
TEST(ListingDecode, UnterminatedFieldsAreCutAtTheirEnd) {
    auto entry = std::make_unique<uint8_t[]>(20);  // exactly one entry, nothing after it
    PutEntry(entry.get(), 0x20, "ABCDEFGHI", "XYZUVW", 0);
    entry[16] = 'Q';  // size bytes that would read as text if the cut failed
    const auto decoded = DecodeListingEntry(entry.get());
    EXPECT_EQ(decoded.name, "ABCDEFGHI");
    EXPECT_EQ(decoded.extension, "XYZUVW");
}

TEST(StateRecord, FieldsReadAtTheirOffsetsAndOnlyInsideTheRecord) {
    uint8_t record[16] = {};
    nccmd::PutLittleEndian32(record + 8, static_cast<uint32_t>(-7));
    record[15] = 1;
    EXPECT_EQ(nccmd::AbnormalCode(record, 16), -7);
    EXPECT_EQ(nccmd::BlockTaken(record, 16), 1);
    // Shorter records: the missing fields read as 0.
    EXPECT_EQ(nccmd::BlockTaken(record, 15), 0);
    EXPECT_EQ(nccmd::AbnormalCode(record, 12), -7);
    EXPECT_EQ(nccmd::AbnormalCode(record, 11), 0);
}

}  // namespace
