#include "platform/Clock.h"

#include "platform/win32/Win32.h"

namespace platform {

uint32_t GetTickCount() {
    return ::GetTickCount();  // 32 bits, wraps after 49.7 days like callers expect
}

bool GetLocalTime(LocalTime& out) {
    SYSTEMTIME st{};
    ::GetLocalTime(&st);
    out.year = st.wYear;
    out.month = st.wMonth;
    out.day = st.wDay;
    out.dayOfWeek = st.wDayOfWeek;
    out.hour = st.wHour;
    out.minute = st.wMinute;
    out.second = st.wSecond;
    out.millisecond = st.wMilliseconds;
    return true;
}

void Sleep(uint32_t ms) { ::Sleep(ms); }

}  // namespace platform
