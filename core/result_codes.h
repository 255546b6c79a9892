// Result codes the request engine produces itself. Every other non-zero
// value a request returns is a device's exception code, passed through.
#pragma once

#include <cstdint>

namespace core {

enum ResultCode : uint8_t {
    kResultOk = 0x00,
    kResultRequestTooLong = 0x03,
    kResultBadStart = 0xA0,
    kResultWrongAddress = 0xA1,
    kResultLengthTooBig = 0xA2,
    kResultChecksum = 0xA3,
    kResultNoCr = 0xA4,
    kResultNoLf = 0xA5,
    kResultExceptionChecksum = 0xA6,
    kResultExceptionNoCr = 0xA7,
    kResultExceptionNoLf = 0xA8,
    kResultBadFunction = 0xA9,
    kResultNoAnswer = 0xFF,
};

}  // namespace core
