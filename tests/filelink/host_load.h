/* Loading the library by file name at run time: dlopen on POSIX
 * (host_load_dlopen.c), LoadLibrary on Windows (host_load_windows.c). */
#ifndef HOST_LOAD_H
#define HOST_LOAD_H

#include <stddef.h>

#include "filelink.h"

typedef void(FILELINK_CALL *SetReceiveFn)(UartReceiveFun);
typedef void(FILELINK_CALL *SetSendFn)(UartSendFrameFun);
typedef void(FILELINK_CALL *InitFn)(uint8_t, int32_t, int32_t);
typedef uint8_t(FILELINK_CALL *RequestFn)(uint8_t, uint16_t *, uint8_t *);
typedef int32_t(FILELINK_CALL *TestFn)(int32_t);
typedef void (*AnyFn)(void);

/* 1 when loaded; else 0 with the system's words in `error`. */
int LoadLibraryFile(const char *path, char *error, size_t size);
/* The exported function of that name, or NULL. */
AnyFn EntryPoint(const char *name);

#endif
