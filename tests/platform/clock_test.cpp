// Local calendar time survives the year 2038 and round-trips.
#include "platform/clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

using namespace platform;

TEST(Clock, CalendarRoundTripsPast2038) {
    setenv("TZ", "UTC", 1);
    tzset();
    CalendarTime t;
    t.year = 2100;
    t.month = 3;
    t.day = 1;
    t.hour = 12;
    int64_t s = fromLocalCalendar(t);
    EXPECT_GT(s, int64_t(1) << 31);  // beyond a 32-bit time_t
    CalendarTime back = localCalendar(s);
    EXPECT_EQ(back.year, 2100);
    EXPECT_EQ(back.month, 3);
    EXPECT_EQ(back.day, 1);
    EXPECT_EQ(back.hour, 12);
    EXPECT_EQ(back.weekday, 1);  // a Monday
    // Out-of-range fields normalise as mktime does: 31 February 2039.
    CalendarTime feb{2039, 2, 31, 0, 0, 0, 0, 0};
    CalendarTime norm = localCalendar(fromLocalCalendar(feb));
    EXPECT_EQ(norm.month, 3);
    EXPECT_EQ(norm.day, 3);
    EXPECT_GT(currentTime(), 1700000000);
}
