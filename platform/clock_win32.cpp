#include "platform/clock.h"

#include <windows.h>

namespace platform {

namespace {

// Ticks of the performance counter per second; fixed at boot.
int64_t CounterFrequency() {
    static const int64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<int64_t>(f.QuadPart);
    }();
    return frequency;
}

int64_t Counter() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<int64_t>(now.QuadPart);
}

}  // namespace

int64_t MonotonicMs() {
    const int64_t ticks = Counter(), frequency = CounterFrequency();
    return ticks / frequency * 1000 + ticks % frequency * 1000 / frequency;
}

double MonotonicMsFine() { return double(Counter()) * 1000.0 / double(CounterFrequency()); }

void SleepMs(int32_t milliseconds) {
    if (milliseconds > 0) Sleep(static_cast<DWORD>(milliseconds));
}

}  // namespace platform
