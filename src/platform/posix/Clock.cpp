#include "platform/Clock.h"

#include <cerrno>
#include <ctime>

namespace platform {

namespace {

timespec Now(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return ts;
}

} // namespace

uint32_t GetTickCount() {
    const timespec ts = Now(CLOCK_MONOTONIC);
    // Unsigned arithmetic: the truncation to 32 bits is the wrap at 2^32 ms (about 49.7 days).
    const uint64_t ms = uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

bool QueryPerformanceCounter(int64_t *counter) {
    if (!counter) return false;
    const timespec ts = Now(CLOCK_MONOTONIC);
    *counter = int64_t(ts.tv_sec) * 1000000000 + int64_t(ts.tv_nsec);
    return true;
}

bool QueryPerformanceFrequency(int64_t *frequency) {
    if (!frequency) return false;
    *frequency = 1000000000;
    return true;
}

void Sleep(uint32_t ms) {
    timespec request{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    timespec remaining{};
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR) request = remaining;
}

void GetLocalTime(SYSTEMTIME *time) {
    if (!time) return;
    const timespec ts = Now(CLOCK_REALTIME);
    const time_t seconds = ts.tv_sec;
    tm local{};
    localtime_r(&seconds, &local);
    time->wYear = static_cast<uint16_t>(local.tm_year + 1900);
    time->wMonth = static_cast<uint16_t>(local.tm_mon + 1);
    time->wDayOfWeek = static_cast<uint16_t>(local.tm_wday);
    time->wDay = static_cast<uint16_t>(local.tm_mday);
    time->wHour = static_cast<uint16_t>(local.tm_hour);
    time->wMinute = static_cast<uint16_t>(local.tm_min);
    // A leap second (tm_sec 60) is reported as 59, like Windows, which has no leap seconds.
    time->wSecond = static_cast<uint16_t>(local.tm_sec > 59 ? 59 : local.tm_sec);
    time->wMilliseconds = static_cast<uint16_t>(ts.tv_nsec / 1000000);
}

} // namespace platform
