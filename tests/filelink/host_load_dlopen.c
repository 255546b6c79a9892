#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include "host_load.h"

static void *library;

int LoadLibraryFile(const char *path, char *error, size_t size) {
    library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!library) snprintf(error, size, "dlopen: %s", dlerror());
    return library != NULL;
}

AnyFn EntryPoint(const char *name) {
    void *symbol = dlsym(library, name);
    AnyFn fn;
    /* POSIX guarantees that a function's address survives this copy. */
    memcpy(&fn, &symbol, sizeof fn);
    return fn;
}
