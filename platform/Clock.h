// Time: the millisecond tick counter and local time.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Milliseconds since an arbitrary start, 32 bits: wraps after 49.7 days, so
// callers subtract two ticks as unsigned values.
uint32_t GetTickCount();

struct LocalTime {
    int year = 0;     // 2007
    int month = 0;    // 1..12
    int day = 0;      // 1..31
    int dayOfWeek = 0;  // 0 Sunday .. 6 Saturday
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// The current local time with milliseconds. False if the system clock or
// the time zone cannot be read (last error set).
bool GetLocalTime(LocalTime& out);

// "ddd, dd.MMMM yyyy": abbreviated day name, two-digit day, full month name
// and year in German (LANG_GERMAN) or English (anything else).
std::string FormatLongDate(const LocalTime& t, uint16_t languageId);

// Sleeps the calling thread. Only for pacing that a Part asks for; never in
// a loop that waits for a condition.
void Sleep(uint32_t ms);

}  // namespace platform
