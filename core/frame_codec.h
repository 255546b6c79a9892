// Frame codec: byte <-> two hexadecimal characters, and the frame checksum.
#pragma once

#include <cstddef>
#include <cstdint>

namespace core {

// The longest payload either direction carries.
inline constexpr uint16_t kMaxPayload = 1024;
// A normal frame is ':' + 8 header characters + 2n payload + checksum + CR LF.
inline constexpr size_t FrameLength(size_t payloadLength) { return 13 + 2 * payloadLength; }
// Send and receive texts hold the longest frame (2061 characters).
inline constexpr size_t kFrameTextSize = FrameLength(kMaxPayload);
// An exception answer is always this long.
inline constexpr size_t kExceptionFrameLength = 11;

// Writes the two upper-case hex characters of `value` at text[*position]
// and advances *position by 2.
void PutHexByte(uint8_t value, char *text, uint16_t *position);

// Decodes text[*position], text[*position + 1] into *result and advances
// *position by 2. Never fails: every character yields a nibble from its low
// four bits after the digit/letter offset, so 'a' reads as 'A' and 'G' as 0.
void GetHexByte(uint8_t *result, const char *text, uint16_t *position);

// True for the characters a frame's digits may use: '0'-'9', 'A'-'F' and
// 'a'-'f'. GetHexByte decodes any character; a receiver that wants damage
// past the checksum's reach noticed asks this first.
bool IsHexDigit(char c);

// Two's complement of the 8-bit sum of the first `count` characters of
// `text` (the character codes, not the bytes they encode). Callers pass the
// covered character count reduced modulo 256: this is the wire rule.
uint8_t FrameChecksum(const char *text, uint8_t count);

}  // namespace core
