#include "core/frame_codec.h"

namespace core {
namespace {

char HexDigit(uint8_t nibble) {
    return static_cast<char>(nibble <= 9 ? nibble + 0x30 : nibble + 0x37);
}

uint8_t Nibble(char c) {
    const uint8_t code = static_cast<uint8_t>(c);
    return static_cast<uint8_t>((code > 0x39 ? code - 0x37 : code - 0x30) & 0x0F);
}

}  // namespace

void PutHexByte(uint8_t value, char *text, uint16_t *position) {
    text[*position] = HexDigit(value >> 4);
    text[*position + 1] = HexDigit(value & 0x0F);
    *position = static_cast<uint16_t>(*position + 2);
}

void GetHexByte(uint8_t *result, const char *text, uint16_t *position) {
    *result = static_cast<uint8_t>(Nibble(text[*position]) * 16 + Nibble(text[*position + 1]));
    *position = static_cast<uint16_t>(*position + 2);
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

uint8_t FrameChecksum(const char *text, uint8_t count) {
    uint8_t sum = 0;
    for (uint8_t i = 0; i < count; ++i) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(text[i]));
    return static_cast<uint8_t>(0x100 - sum);
}

}  // namespace core
