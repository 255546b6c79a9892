#include <windows.h>
#include <stdio.h>

#include "host_load.h"

static HMODULE library;

int LoadLibraryFile(const char *path, char *error, size_t size) {
    library = LoadLibraryA(path);
    if (!library) snprintf(error, size, "LoadLibrary %s: error %lu", path, (unsigned long)GetLastError());
    return library != NULL;
}

AnyFn EntryPoint(const char *name) { return (AnyFn)(void (*)(void))GetProcAddress(library, name); }
