// The clock on Windows: the system's own tick count, performance counter and local time.
#include "platform/Clock.h"

#include <windows.h>

namespace platform {

uint32_t GetTickCount() {
    // GetTickCount64 never wraps; its low 32 bits are the tick count that does, at 2^32 ms.
    return static_cast<uint32_t>(::GetTickCount64());
}

// The counter is given in nanoseconds on every system, so a figure means the same everywhere.
constexpr int64_t NanosecondsPerSecond = 1000000000;

bool QueryPerformanceCounter(int64_t *counter) {
    LARGE_INTEGER value{};
    LARGE_INTEGER frequency{};
    if (!counter || !::QueryPerformanceCounter(&value) ||
        !::QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0)
        return false;
    // In two parts, so that a machine up for months does not overflow the product.
    const int64_t ticks = value.QuadPart, perSecond = frequency.QuadPart;
    *counter = ticks / perSecond * NanosecondsPerSecond +
               ticks % perSecond * NanosecondsPerSecond / perSecond;
    return true;
}

bool QueryPerformanceFrequency(int64_t *frequency) {
    if (!frequency) return false;
    *frequency = NanosecondsPerSecond;
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
