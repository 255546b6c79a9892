/* The two link callbacks through which the request engine reaches a link.
 * Plain C so that host programs of the filelink library can include it. */
#ifndef CORE_UART_CALLBACKS_H
#define CORE_UART_CALLBACKS_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define UART_CALLBACK_CONV __cdecl
#else
#define UART_CALLBACK_CONV
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Fetches received data; returns 255 when nothing was received.
 * Byte mode: returns the next byte and ignores both arguments.
 * Block mode: stores one whole frame at buffer[0..], sets *count to its
 * number of characters and returns anything but 255. */
typedef uint8_t(UART_CALLBACK_CONV *UartReceiveFun)(uint8_t *buffer, int32_t *count);

/* Sends one frame: the characters from text[0] up to and including the
 * first LF. The text is not zero-terminated. */
typedef void(UART_CALLBACK_CONV *UartSendFrameFun)(const char *text);

#ifdef __cplusplus
}
#endif

#endif
