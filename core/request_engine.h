// The request engine: one request/answer exchange with a controller over a
// link the engine does not own. One set of state for the whole process and
// no locks: the host serialises every call.
//
// The same source is built twice. CORE_FILELINK_BUILD=1 gives the library's
// engine, 0 the program's; they differ in how the byte-mode wait is measured
// (empty polls with a 1 ms pause each, or milliseconds of silence since the
// try began or its last byte came), in the pause after an incomplete block,
// and in whether an exception answer or an unexpected function code ends the
// request at once. In both, only silence counts against the wait, so a slow
// line delivering a long answer is waited for at any rate; a line that keeps
// sending characters without a whole frame among them ends the try after
// two of the longest frames' worth. Every character an answer's fields read
// as digits must be a hex digit.
#pragma once

#include <cstdint>

#include "core/frame_codec.h"
#include "core/result_codes.h"
#include "core/uart_callbacks.h"

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

// Tells whether an answer that passed every check of the frame is the one
// the request waits for. A late or repeated answer to an earlier request
// looks exactly like a fresh one; only the payload (a block number it
// echoes) can tell them apart, and only the caller knows what to expect.
// An answer it turns down is dropped: it is neither the result nor a failed
// try, and the wait for the right answer goes on within the same try.
struct AnswerMatch {
    bool (*accepts)(const void *context, const uint8_t *payload, uint16_t length) = nullptr;
    const void *context = nullptr;
};

// Answers a match may drop within one try: a link that keeps handing out
// valid frames meant for other requests (a flood of stale answers) still
// ends the try, in block mode and in byte mode alike.
inline constexpr int kMaxDroppedAnswersPerTry = 32;

// One exchange with function code 0x24 (read) or 0x25 (write). On entry
// *length is the request payload length and buffer the payload; buffer must
// hold kMaxPayload bytes. On success *length and buffer hold the answer.
// Without a match every valid answer is taken, as the library's hosts expect.
uint8_t ModbusReadFileReq(uint8_t address, uint16_t *length, uint8_t *buffer, AnswerMatch match = {});
uint8_t ModbusWriteFileReq(uint8_t address, uint16_t *length, uint8_t *buffer, AnswerMatch match = {});

// Assembles one answer into the receive text; true when a whole frame came.
// Starts a fresh wait.
bool ReceiveFrame();

}  // namespace core
