// The clock on Windows: the system's own tick count, performance counter and local time.
#include "platform/Clock.h"

#include <windows.h>

namespace platform {

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

uint32_t GetTickCount() {
    // From the performance counter, to the millisecond: the system's tick count moves in steps of
    // 10 to 16 ms, and the waits and time-outs built on it are meant to the millisecond. The low
    // 32 bits wrap at 2^32 ms, as the system's does.
    int64_t nanoseconds = 0;
    if (!QueryPerformanceCounter(&nanoseconds)) return static_cast<uint32_t>(::GetTickCount64());
    return static_cast<uint32_t>(static_cast<uint64_t>(nanoseconds) / 1000000u);
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
