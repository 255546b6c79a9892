// A link whose answers are scripted per try, for driving the engine through
// its callbacks. Every frame the engine sends takes the next scripted answer
// (an empty answer is silence).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace scripted {

struct Answer {
    std::string text;
    std::optional<int32_t> count = {};  // block mode: the count reported, else the text's size
    // Further frames of the same try: in block mode one per later receive
    // call, in byte mode following the text on the line.
    std::vector<std::string> more = {};
};

struct ByteTiming {
    uint32_t msPerPoll = 1;          // virtual time each empty receive call takes
    uint32_t emptyPollsBetween = 0;  // 255s handed out between two bytes
    uint32_t msPerByte = 0;          // virtual time each call that hands out a byte takes
};

// Installs the script's callbacks after ModbusInit(address, timeout, retries).
void Install(int32_t timeout, int32_t retries, std::vector<Answer> answers, ByteTiming timing = {});
// Sent frames, each up to and including its LF.
const std::vector<std::string> &Sent();
int ReceiveCalls();

}  // namespace scripted

// Independent frame builders for answers and expected requests.
std::string NormalFrame(uint8_t address, uint8_t function, const std::string &payload);
std::string ExceptionFrame(uint8_t address, uint8_t function, uint8_t code);
