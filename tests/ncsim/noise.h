// Garbage for the simulator: random bytes, and random text that looks like
// frames more often than pure noise does; and the engine set up over the
// selected link.
#pragma once

#include <cstdint>
#include <random>
#include <string>

#include "core/request_engine.h"
#include "link/link_ops.h"

namespace testing_noise {

inline std::string RandomBytes(std::mt19937 &random, size_t n) {
    std::string bytes(n, '\0');
    for (char &c : bytes) c = static_cast<char>(random() & 0xFF);
    return bytes;
}

inline std::string FrameLikeNoise(std::mt19937 &random, size_t n) {
    static const char alphabet[] = ":0123456789ABCDEFabcdef\r\n%\\";
    std::string text(n, '\0');
    for (char &c : text) c = alphabet[random() % (sizeof alphabet - 1)];
    return text;
}

inline void UseEngineOverTheLink(int32_t timeout) {
    core::ModbusInit(1, timeout, 2);
    core::SetUartReceiveFun(dnclink::LinkReceive);
    core::SetUartSendFrameFun(dnclink::LinkSendFrame);
}

}  // namespace testing_noise
