#include "platform/clock.h"

#include <ctime>

namespace platform {

static_assert(sizeof(time_t) >= 8, "calendar time must be 64-bit");

int64_t currentTime() { return static_cast<int64_t>(std::time(nullptr)); }

CalendarTime localCalendar(int64_t seconds) {
    time_t t = static_cast<time_t>(seconds);
    std::tm tm{};
    localtime_r(&t, &tm);
    CalendarTime c;
    c.year = tm.tm_year + 1900;
    c.month = tm.tm_mon + 1;
    c.day = tm.tm_mday;
    c.hour = tm.tm_hour;
    c.minute = tm.tm_min;
    c.second = tm.tm_sec;
    c.weekday = tm.tm_wday;
    c.yearday = tm.tm_yday;
    return c;
}

int64_t fromLocalCalendar(const CalendarTime& c) {
    std::tm tm{};
    tm.tm_year = c.year - 1900;
    tm.tm_mon = c.month - 1;
    tm.tm_mday = c.day;
    tm.tm_hour = c.hour;
    tm.tm_min = c.minute;
    tm.tm_sec = c.second;
    tm.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&tm));
}

CalendarTime currentLocalCalendar() { return localCalendar(currentTime()); }

}  // namespace platform
