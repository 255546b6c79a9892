// The engine's answer parsing, in byte mode and in block mode, against a
// link that hands out the fuzz input as what arrived. Built once per build
// of the engine. A virtual clock keeps the waits free.
//
// Input: a flags byte (bit 0 block mode, bits 1-2 retries, bit 3 write
// request, bit 4 a match that takes only answers whose first byte is even),
// the request payload's length and bytes, then what the line delivers. In
// byte mode every byte is one receive (0xFF reads as "nothing yet"); in
// block mode every LF ends one datagram.
#include <cstdint>
#include <cstring>
#include <cstdlib>
#include <vector>

#include "tests/core/fake_clock.h"
#include "tests/fuzz/fuzz_input.h"
#include "core/request_engine.h"

namespace {

struct Line {
    std::vector<uint8_t> bytes;
    size_t next = 0;
    bool blockMode = false;
} line;

uint8_t Receive(uint8_t *buffer, int32_t *count) {
    fake_clock::Advance(1);
    if (line.next >= line.bytes.size()) return 255;
    if (!line.blockMode) return line.bytes[line.next++];
    size_t end = line.next;
    while (end < line.bytes.size() && line.bytes[end] != '\n') ++end;
    if (end < line.bytes.size()) ++end;  // the LF belongs to the datagram
    const size_t n = std::min(end - line.next, core::kFrameTextSize);
    std::memcpy(buffer, line.bytes.data() + line.next, n);
    *count = static_cast<int32_t>(n);
    line.next = end;
    return 0;
}

void Send(const char *) {}

bool EvenFirstByte(const void *, const uint8_t *payload, uint16_t length) { return length > 0 && payload[0] % 2 == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzzing::Input input(data, size);
    const uint8_t flags = input.Byte();
    const std::vector<uint8_t> request = input.Bytes(input.Byte());
    line = Line{input.Rest(), 0, (flags & 1) != 0};

    fake_clock::Reset();
    core::ModbusInit(1, line.blockMode ? 0 : 50, (flags >> 1) & 3);
    core::SetUartReceiveFun(Receive);
    core::SetUartSendFrameFun(Send);

    uint8_t buffer[core::kMaxPayload] = {};
    if (!request.empty()) std::memcpy(buffer, request.data(), request.size());
    uint16_t length = static_cast<uint16_t>(request.size());
    const core::AnswerMatch match = (flags & 16) ? core::AnswerMatch{EvenFirstByte, nullptr} : core::AnswerMatch{};
    const uint8_t code = (flags & 8) ? core::ModbusWriteFileReq(1, &length, buffer, match)
                                     : core::ModbusReadFileReq(1, &length, buffer, match);
    // An answer taken as success fits the buffer and passed the match.
    if (code == 0 && length > core::kMaxPayload) std::abort();
    if (code == 0 && (flags & 16) && (length == 0 || buffer[0] % 2 != 0)) std::abort();
    return 0;
}
