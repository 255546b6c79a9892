// The two time services the engine needs, kept apart so the library can be
// cross-built for Windows without a thread runtime.
#pragma once

#include <cstdint>

namespace core {

// Monotonic millisecond counter; differences are taken modulo 2^32.
uint32_t EngineTickMs();
void EngineSleepMs(uint32_t milliseconds);

}  // namespace core
