// Whole transfers through the program's engine build, in the order the
// window sends them: text request then blocks 1..N; announcement then
// blocks. Each returns the first non-zero result code, or 0.
#pragma once

#include <cstring>
#include <string>

#include "tests/ncsim/payloads.h"
#include "core/request_engine.h"

namespace testing_payloads {

inline uint8_t Exchange(bool write, uint8_t address, Bytes &payload) {
    uint8_t buffer[core::kMaxPayload] = {};
    std::memcpy(buffer, payload.data(), payload.size());
    uint16_t length = static_cast<uint16_t>(payload.size());
    const uint8_t code = write ? core::ModbusWriteFileReq(address, &length, buffer)
                               : core::ModbusReadFileReq(address, &length, buffer);
    if (code == 0) payload.assign(buffer, buffer + length);
    return code;
}

// A listing, a file read or a state query: the data the blocks carried.
inline uint8_t ReadAll(uint8_t address, std::string_view text, Bytes &data) {
    Bytes answer = TextRequest(text);
    if (const uint8_t code = Exchange(false, address, answer)) return code;
    const uint32_t blocks = BigEndianAt(answer, 4);
    data.clear();
    for (uint32_t k = 1; k <= blocks; ++k) {
        Bytes block = BlockRequest(k);
        if (const uint8_t code = Exchange(false, address, block)) return code;
        data.insert(data.end(), block.begin() + 4, block.end());
    }
    return 0;
}

inline uint8_t WriteAll(uint8_t address, std::string_view path, const std::string &content) {
    Bytes announce = Announcement(path, static_cast<uint32_t>(content.size()));
    if (const uint8_t code = Exchange(true, address, announce)) return code;
    const auto *bytes = reinterpret_cast<const uint8_t *>(content.data());
    for (size_t from = 0, k = 1; from < content.size(); from += nccmd::kBlockSize, ++k) {
        const size_t n = std::min<size_t>(nccmd::kBlockSize, content.size() - from);
        Bytes block = DataBlock(static_cast<uint32_t>(k), bytes + from, n);
        if (const uint8_t code = Exchange(true, address, block)) return code;
    }
    return 0;
}

}  // namespace testing_payloads
