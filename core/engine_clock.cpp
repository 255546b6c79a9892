#include "core/engine_clock.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#include <time.h>
#endif

namespace core {

#ifdef _WIN32

uint32_t EngineTickMs() { return GetTickCount(); }
void EngineSleepMs(uint32_t milliseconds) { Sleep(milliseconds); }

#else

uint32_t EngineTickMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

void EngineSleepMs(uint32_t milliseconds) {
    timespec pause{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) == -1 && errno == EINTR) {
    }
}

#endif

}  // namespace core
