#include "tests/core/fake_clock.h"

#include "core/engine_clock.h"

namespace {
uint32_t now = 0;
uint32_t sleeps = 0;
uint32_t slept = 0;
}  // namespace

namespace fake_clock {
void Reset() { now = sleeps = slept = 0; }
void Advance(uint32_t milliseconds) { now += milliseconds; }
uint32_t Now() { return now; }
uint32_t Sleeps() { return sleeps; }
uint32_t SleptMs() { return slept; }
}  // namespace fake_clock

// These definitions satisfy the engine, so the real clock's object file is
// never pulled from its archive into a test binary.
namespace core {
uint32_t EngineTickMs() { return now; }
void EngineSleepMs(uint32_t milliseconds) {
    ++sleeps;
    slept += milliseconds;
    now += milliseconds;
}
}  // namespace core
