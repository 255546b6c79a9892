// A controller played by the test itself: every request frame the engine
// sends is decoded and handed to a responder, whose answer is framed and
// returned through the engine's block-mode receive callback. Lets the tests
// see the exact payload bytes each command sends.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace scripted_nc {

using Bytes = std::vector<uint8_t>;

struct Request {
    uint8_t address;
    uint8_t function;  // 0x24 read-type, 0x25 write-type
    Bytes payload;
};

struct Reply {
    enum Kind { kNormal, kException, kSilence } kind = kNormal;
    Bytes payload;          // kNormal
    uint8_t exception = 0;  // kException
    // Normal answers that arrive first in the same try: late or repeated
    // answers to earlier requests.
    std::vector<Bytes> straysFirst = {};
};

inline Reply Normal(Bytes payload) { return {Reply::kNormal, std::move(payload), 0}; }
inline Reply AfterStrays(std::vector<Bytes> strays, Reply reply) {
    reply.straysFirst = std::move(strays);
    return reply;
}
inline Reply Exception(uint8_t code) { return {Reply::kException, {}, code}; }
inline Reply Silence() { return {Reply::kSilence, {}, 0}; }

using Responder = std::function<Reply(const Request &)>;

// Block mode, no retries unless given; every request goes to `responder`.
void Install(Responder responder, int32_t retries = 0);
// Serves one file for reading: block k carries bytes [512(k-1), 512k);
// block `failAt` (0: none) gets the exception answer 0x08.
Responder ServeFile(const Bytes &file, uint32_t failAt = 0);
// Every request sent since Install, in order.
const std::vector<Request> &Requests();

// Payload helpers.
Bytes BigEndian32(uint32_t value);
uint32_t ReadBigEndian32(const Bytes &payload, size_t offset);
Bytes Concat(std::initializer_list<Bytes> parts);
Bytes Text(const char *text);
// First answer of a read, listing or query: number, block count, total size.
Bytes FirstAnswer(uint32_t number, uint32_t blockCount, uint32_t totalSize);
// Block answer: the block number, then the data.
Bytes BlockAnswer(uint32_t number, const Bytes &data);
// `n` bytes of a repeatable pseudo-random pattern.
Bytes Pattern(size_t n, uint32_t seed);

}  // namespace scripted_nc
