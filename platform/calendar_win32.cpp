#include "platform/calendar.h"

namespace platform {

bool CalendarTimes(std::time_t moment, std::tm *local, std::tm *utc) {
    return localtime_s(local, &moment) == 0 && gmtime_s(utc, &moment) == 0;
}

}  // namespace platform
