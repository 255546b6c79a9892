// Request payloads and answer fields of the file service, for tests that
// talk to the simulated controller directly or through the engine.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "nccmd/nc_protocol.h"

namespace testing_payloads {

using Bytes = std::vector<uint8_t>;

inline void AppendBigEndian(Bytes &b, uint32_t value) {
    uint16_t position = static_cast<uint16_t>(b.size());
    b.resize(b.size() + 4);
    nccmd::PutBigEndian(b.data(), value, 4, &position);
}

inline uint32_t BigEndianAt(const Bytes &b, uint16_t offset) {
    uint32_t value = 0;
    nccmd::GetBigEndian(b.data(), &value, 4, &offset);
    return value;
}

inline Bytes TextRequest(std::string_view text) {
    Bytes b;
    AppendBigEndian(b, 0);
    b.insert(b.end(), text.begin(), text.end());
    return b;
}

inline Bytes BlockRequest(uint32_t block) {
    Bytes b;
    AppendBigEndian(b, block);
    return b;
}

inline Bytes Announcement(std::string_view text, uint32_t size) {
    Bytes b;
    AppendBigEndian(b, 0);
    AppendBigEndian(b, static_cast<uint32_t>(nccmd::BlockCount(static_cast<int32_t>(size))));
    AppendBigEndian(b, size);
    b.insert(b.end(), text.begin(), text.end());
    return b;
}

inline Bytes DataBlock(uint32_t block, const uint8_t *data, size_t n) {
    Bytes b;
    AppendBigEndian(b, block);
    b.insert(b.end(), data, data + n);
    return b;
}

// One listing entry's name as the window shows it: NAME or NAME.EXT.
inline std::string EntryName(const uint8_t *entry) {
    std::string name(reinterpret_cast<const char *>(entry + nccmd::kListingNameOffset));
    const std::string ext(reinterpret_cast<const char *>(entry + nccmd::kListingExtOffset));
    return ext.empty() ? name : name + "." + ext;
}

inline std::vector<std::string> EntryNames(const Bytes &listing) {
    std::vector<std::string> names;
    for (size_t at = 0; at + nccmd::kListingEntrySize <= listing.size(); at += nccmd::kListingEntrySize) {
        names.push_back(EntryName(listing.data() + at));
    }
    return names;
}

}  // namespace testing_payloads
