#include "ncsim/frames.h"

#include "core/frame_codec.h"

namespace ncsim {
namespace {

uint8_t ChecksumOf(const std::string &frame) {
    // Characters after ':' reduced modulo 256: the wire rule on both ends.
    return core::FrameChecksum(frame.data() + 1, static_cast<uint8_t>((frame.size() - 1) % 256));
}

std::string Finish(std::string frame) {
    const uint8_t checksum = ChecksumOf(frame);
    char digits[2];
    uint16_t position = 0;
    core::PutHexByte(checksum, digits, &position);
    frame.append(digits, 2);
    frame += "\r\n";
    return frame;
}

void PutByte(std::string &frame, uint8_t value) {
    char digits[2];
    uint16_t position = 0;
    core::PutHexByte(value, digits, &position);
    frame.append(digits, 2);
}

}  // namespace

bool ParseRequest(const char *text, size_t length, Request &request) {
    if (length < core::FrameLength(0) || length > core::kFrameTextSize) return false;
    if (text[0] != ':' || text[length - 2] != '\r' || text[length - 1] != '\n') return false;
    for (size_t i = 1; i < length - 2; ++i) {
        if (!core::IsHexDigit(text[i])) return false;
    }
    uint16_t position = 1;
    uint8_t high = 0;
    uint8_t low = 0;
    core::GetHexByte(&request.address, text, &position);
    core::GetHexByte(&request.function, text, &position);
    core::GetHexByte(&high, text, &position);
    core::GetHexByte(&low, text, &position);
    const size_t n = size_t(high) * 256 + low;
    if (n > core::kMaxPayload || core::FrameLength(n) != length) return false;
    request.payload.resize(n);
    for (size_t i = 0; i < n; ++i) core::GetHexByte(&request.payload[i], text, &position);
    const uint8_t expected = core::FrameChecksum(text + 1, static_cast<uint8_t>((position - 1) % 256));
    uint8_t checksum = 0;
    core::GetHexByte(&checksum, text, &position);
    return checksum == expected;
}

std::string NormalFrame(uint8_t address, uint8_t function, const std::vector<uint8_t> &payload) {
    std::string frame = ":";
    frame.reserve(core::FrameLength(payload.size()));
    PutByte(frame, address);
    PutByte(frame, function);
    PutByte(frame, static_cast<uint8_t>(payload.size() >> 8));
    PutByte(frame, static_cast<uint8_t>(payload.size() & 0xFF));
    for (const uint8_t b : payload) PutByte(frame, b);
    return Finish(std::move(frame));
}

std::string ExceptionAnswerFrame(uint8_t address, uint8_t function, uint8_t code) {
    std::string frame = ":";
    PutByte(frame, address);
    PutByte(frame, static_cast<uint8_t>(function | 0x80));
    PutByte(frame, code);
    return Finish(std::move(frame));
}

void CorruptFrame(std::string &frame, std::mt19937 &random) {
    // Covered characters start after ':'; the checksum's two follow the text.
    const size_t checksumAt = frame.size() - 4;
    const size_t covered = (checksumAt - 1) % 256;
    std::uniform_int_distribution<size_t> pick(0, covered + 1);
    const size_t k = pick(random);
    const size_t at = k < covered ? 1 + k : checksumAt + (k - covered);
    static const char digits[] = "0123456789ABCDEF";
    std::uniform_int_distribution<int> shift(1, 15);
    const char *found = std::char_traits<char>::find(digits, 16, frame[at]);
    const int value = found != nullptr ? int(found - digits) : 0;
    frame[at] = digits[(value + shift(random)) % 16];
}

void FlipOneBit(std::string &frame, std::mt19937 &random) {
    if (frame.empty()) return;
    const size_t at = std::uniform_int_distribution<size_t>(0, frame.size() - 1)(random);
    frame[at] = static_cast<char>(frame[at] ^ (1 << std::uniform_int_distribution<int>(0, 7)(random)));
}

void DamageLineText(std::string &frame, std::mt19937 &random) {
    if (frame.size() < 6) return;
    const size_t checksumAt = frame.size() - 4;
    std::uniform_int_distribution<size_t> pick(1, checksumAt - 1);
    char &c = frame[pick(random)];
    c = c == '0' ? '1' : '0';
}

}  // namespace ncsim
