/* filelink: the framed file-request engine for host programs.
 *
 * Call order: ModbusInit first (its first call clears any registered
 * callbacks), then SetUartReceiveFun and SetUartSendFrameFun, then requests.
 * One engine per process and no locks: serialise every call.
 *
 * Result codes: 0 success; 3 request longer than 1024 bytes; 0xA0..0xA9 a
 * failed check of the answer; 0xFF no complete answer (or a callback is
 * not registered); any other value is the device's exception code. */
#ifndef FILELINK_H
#define FILELINK_H

#include <stdint.h>

#include "uart_callbacks.h"

#if defined(_WIN32) && !defined(_WIN64)
#define FILELINK_CALL __stdcall
#else
#define FILELINK_CALL
#endif

#if defined(_WIN32) && defined(FILELINK_BUILDING)
#define FILELINK_API __declspec(dllexport)
#elif defined(_WIN32)
#define FILELINK_API __declspec(dllimport)
#elif defined(__GNUC__)
#define FILELINK_API __attribute__((visibility("default")))
#else
#define FILELINK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

FILELINK_API void FILELINK_CALL SetUartReceiveFun(UartReceiveFun receive);
FILELINK_API void FILELINK_CALL SetUartSendFrameFun(UartSendFrameFun send);
/* timeout >= 1: byte mode, the receive callback returns one byte a call and
 * the wait is that many empty polls, each followed by a 1 ms pause;
 * timeout <= 0: block mode, one whole frame a call. */
FILELINK_API void FILELINK_CALL ModbusInit(uint8_t address, int32_t timeout, int32_t retries);
/* buffer must hold 1024 bytes; on success *length and buffer hold the answer. */
FILELINK_API uint8_t FILELINK_CALL KORA_ModbusReadFileReq(uint8_t address, uint16_t *length, uint8_t *buffer);
FILELINK_API uint8_t FILELINK_CALL KORA_ModbusWriteFileReq(uint8_t address, uint16_t *length, uint8_t *buffer);
/* 1 -> 11, 2 -> 22, 3 -> 33, anything else -> 255: checks loading and binding. */
FILELINK_API int32_t FILELINK_CALL test(int32_t value);

#ifdef __cplusplus
}
#endif

#endif
