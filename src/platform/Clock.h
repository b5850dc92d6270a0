// Time for the rest of Tarnwick: the 32-bit millisecond tick count (wraps like the Win32 one),
// the high-resolution counter and its frequency, local time, and a plain sleep.
#pragma once

#include <cstdint>

namespace platform {

uint32_t GetTickCount(); // milliseconds since an arbitrary start, wraps at 2^32
bool QueryPerformanceCounter(int64_t *counter);
bool QueryPerformanceFrequency(int64_t *frequency);
void Sleep(uint32_t ms); // no message processing

struct SYSTEMTIME {
    uint16_t wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};
void GetLocalTime(SYSTEMTIME *time);

} // namespace platform
