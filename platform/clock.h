// Local calendar time with 64-bit seconds, so dates after 2038 work.
#pragma once

#include <cstdint>

namespace platform {

struct CalendarTime {
    int year = 1970;  // full year, e.g. 2026
    int month = 1;    // 1-12
    int day = 1;      // 1-31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int weekday = 0;  // 0 Sunday
    int yearday = 0;  // 0-365
};

int64_t currentTime();                             // seconds since 1970 UTC
CalendarTime localCalendar(int64_t seconds);       // in the local time zone
int64_t fromLocalCalendar(const CalendarTime& t);  // fields may be out of range, as with mktime
CalendarTime currentLocalCalendar();

}  // namespace platform
