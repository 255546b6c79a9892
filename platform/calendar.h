// A moment as calendar time, thread-safe on every system (the C library's
// localtime and gmtime share one buffer).
#pragma once

#include <ctime>

namespace platform {

// `moment` as local and as UTC calendar time; false when the system cannot
// say.
bool CalendarTimes(std::time_t moment, std::tm *local, std::tm *utc);

}  // namespace platform
