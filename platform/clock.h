// Time for the links and the simulator: a monotonic clock and a pause that
// leaves the processor to others while it waits.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds on a clock that never goes back; only differences count.
int64_t MonotonicMs();

// The same clock with the fraction of a millisecond, for pacing characters
// on a simulated line.
double MonotonicMsFine();

// Sleeps about `milliseconds` (0 or less: returns at once).
void SleepMs(int32_t milliseconds);

}  // namespace platform
