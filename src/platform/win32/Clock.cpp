// The clock on Windows: the system's own tick count, performance counter and local time.
#include "platform/Clock.h"

#include <windows.h>

namespace platform {

uint32_t GetTickCount() {
    // GetTickCount64 never wraps; its low 32 bits are the tick count that does, at 2^32 ms.
    return static_cast<uint32_t>(::GetTickCount64());
}

bool QueryPerformanceCounter(int64_t *counter) {
    LARGE_INTEGER value{};
    if (!counter || !::QueryPerformanceCounter(&value)) return false;
    *counter = value.QuadPart;
    return true;
}

bool QueryPerformanceFrequency(int64_t *frequency) {
    LARGE_INTEGER value{};
    if (!frequency || !::QueryPerformanceFrequency(&value)) return false;
    *frequency = value.QuadPart;
    return true;
}

void Sleep(uint32_t ms) { ::Sleep(ms); }

void GetLocalTime(SYSTEMTIME *time) {
    if (!time) return;
    ::SYSTEMTIME local{};
    ::GetLocalTime(&local);
    time->wYear = local.wYear;
    time->wMonth = local.wMonth;
    time->wDayOfWeek = local.wDayOfWeek;
    time->wDay = local.wDay;
    time->wHour = local.wHour;
    time->wMinute = local.wMinute;
    time->wSecond = local.wSecond;
    time->wMilliseconds = local.wMilliseconds;
}

} // namespace platform
