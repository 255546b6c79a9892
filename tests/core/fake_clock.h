// A virtual clock linked in place of the engine's real one: time moves only
// when a test (or its scripted link) moves it, and every pause is counted.
#pragma once

#include <cstdint>

namespace fake_clock {

void Reset();
void Advance(uint32_t milliseconds);
uint32_t Now();
// Number of EngineSleepMs calls and the milliseconds they asked for.
uint32_t Sleeps();
uint32_t SleptMs();

}  // namespace fake_clock
