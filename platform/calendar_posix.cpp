#include "platform/calendar.h"

namespace platform {

bool CalendarTimes(std::time_t moment, std::tm *local, std::tm *utc) {
    return localtime_r(&moment, local) != nullptr && gmtime_r(&moment, utc) != nullptr;
}

}  // namespace platform
