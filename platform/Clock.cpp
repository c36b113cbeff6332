#include "platform/Clock.h"

#ifndef _WIN32
#include <errno.h>
#include <time.h>
#endif

#include <cstdio>

#include "platform/SysError.h"

namespace platform {

#ifndef _WIN32  // win32/Clock.cpp
uint32_t GetTickCount() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);  // wraps like the counter callers expect
}

bool GetLocalTime(LocalTime& out) {
    timespec ts{};
    if (::clock_gettime(CLOCK_REALTIME, &ts) != 0) {
        SetLastErrorFromErrno();
        return false;
    }
    tm parts{};
    if (::localtime_r(&ts.tv_sec, &parts) == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    out.year = parts.tm_year + 1900;
    out.month = parts.tm_mon + 1;
    out.day = parts.tm_mday;
    out.dayOfWeek = parts.tm_wday;
    out.hour = parts.tm_hour;
    out.minute = parts.tm_min;
    out.second = parts.tm_sec;
    out.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
    return true;
}
#endif

std::string FormatLongDate(const LocalTime& t, uint16_t languageId) {
    static const char* const kDaysEn[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kDaysDe[] = {"So", "Mo", "Di", "Mi", "Do", "Fr", "Sa"};
    static const char* const kMonthsEn[] = {"January", "February", "March",     "April",
                                            "May",     "June",     "July",      "August",
                                            "September", "October", "November", "December"};
    static const char* const kMonthsDe[] = {"Januar", "Februar", "März",      "April",
                                            "Mai",    "Juni",    "Juli",      "August",
                                            "September", "Oktober", "November", "Dezember"};
    const bool german = languageId == LANG_GERMAN;
    const int wd = (t.dayOfWeek >= 0 && t.dayOfWeek < 7) ? t.dayOfWeek : 0;
    const int mo = (t.month >= 1 && t.month <= 12) ? t.month - 1 : 0;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s, %02d.%s %04d", german ? kDaysDe[wd] : kDaysEn[wd],
                  t.day, german ? kMonthsDe[mo] : kMonthsEn[mo], t.year);
    return buffer;
}

#ifndef _WIN32
void Sleep(uint32_t ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}
#endif

}  // namespace platform
