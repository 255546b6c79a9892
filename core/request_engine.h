// The request engine: one request/answer exchange with a controller over a
// link the engine does not own. One set of state for the whole process and
// no locks: the host serialises every call.
//
// The same source is built twice. CORE_FILELINK_BUILD=1 gives the library's
// engine, 0 the program's; they differ in how the byte-mode wait is measured,
// in the pause after an incomplete block, and in whether an exception answer
// or an unexpected function code ends the request at once.
#pragma once

#include <cstdint>

#include "frame_codec.h"
#include "result_codes.h"
#include "uart_callbacks.h"

#ifndef CORE_FILELINK_BUILD
#error "CORE_FILELINK_BUILD must be set by the build (0 or 1)"
#endif

namespace core {

inline constexpr bool kFilelinkBuild = CORE_FILELINK_BUILD != 0;
inline constexpr uint8_t kReadFunction = 0x24;
inline constexpr uint8_t kWriteFunction = 0x25;

struct EngineSettings {
    uint8_t address;  // stored only; requests use the address passed to them
    int32_t timeout;  // >= 1: byte mode with this wait; <= 0: block mode
    int32_t retries;  // repeated tries after the first
};

void SetUartReceiveFun(UartReceiveFun receive);
void SetUartSendFrameFun(UartSendFrameFun send);

// Stores the settings. The first call in a process also clears both
// callbacks, so hosts register them after it.
void ModbusInit(uint8_t address, int32_t timeout, int32_t retries);

// The settings as last stored by ModbusInit.
const EngineSettings &CurrentEngineSettings();

// One exchange with function code 0x24 (read) or 0x25 (write). On entry
// *length is the request payload length and buffer the payload; buffer must
// hold kMaxPayload bytes. On success *length and buffer hold the answer.
uint8_t ModbusReadFileReq(uint8_t address, uint16_t *length, uint8_t *buffer);
uint8_t ModbusWriteFileReq(uint8_t address, uint16_t *length, uint8_t *buffer);

// Assembles one answer into the receive text; true when a whole frame came.
bool ReceiveFrame();

}  // namespace core
