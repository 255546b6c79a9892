// Request frames as the controller reads them and answer frames as it writes
// them, in the engine's own frame format (same hex digits, same checksum).
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace ncsim {

struct Request {
    uint8_t address = 0;
    uint8_t function = 0;
    std::vector<uint8_t> payload;
};

// Parses one frame from ':' to LF (exactly `length` characters). False for
// anything that is not a whole, intact frame: a controller stays silent then.
bool ParseRequest(const char *text, size_t length, Request &request);

// A normal frame: requests and their answers share this layout.
std::string NormalFrame(uint8_t address, uint8_t function, const std::vector<uint8_t> &payload);
std::string ExceptionAnswerFrame(uint8_t address, uint8_t function, uint8_t code);

// Damages one character of a frame that its checksum covers (or of the
// checksum itself), so the receiver can tell.
void CorruptFrame(std::string &frame, std::mt19937 &random);

// Flips one random bit of one random character, anywhere from ':' to LF,
// as noise on a line does. Past the characters the checksum covers, only a
// receiver that wants every digit to be a hex digit can tell, and only when
// the flip leaves one.
void FlipOneBit(std::string &frame, std::mt19937 &random);

// Damages one character anywhere between ':' and the checksum, as noise on
// the line does. Past the characters the checksum covers (payloads over 123
// bytes) the receiver cannot tell: only reading the data back shows it.
void DamageLineText(std::string &frame, std::mt19937 &random);

}  // namespace ncsim
