#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

using namespace platform;
using namespace std::chrono_literals;

TEST(Clock, TickCountFollowsTheMonotonicClock) {
    const uint32_t before = GetTickCount();
    Sleep(50);
    const uint32_t elapsed = GetTickCount() - before; // unsigned: right across the wrap too
    EXPECT_GE(elapsed, 49u);
    EXPECT_LT(elapsed, 2000u);
}

TEST(Clock, PerformanceCounterIsNanoseconds) {
    int64_t frequency = 0;
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    EXPECT_EQ(frequency, 1000000000);
    int64_t a = 0, b = 0;
    ASSERT_TRUE(QueryPerformanceCounter(&a));
    Sleep(20);
    ASSERT_TRUE(QueryPerformanceCounter(&b));
    EXPECT_GE(b - a, 19000000);
    EXPECT_LT(b - a, 2000000000);
    EXPECT_FALSE(QueryPerformanceCounter(nullptr));
    EXPECT_FALSE(QueryPerformanceFrequency(nullptr));
}

TEST(Clock, SleepZeroReturns) {
    const auto start = std::chrono::steady_clock::now();
    Sleep(0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);
}

TEST(Clock, LocalTimeMatchesTheCLibrary) {
    SYSTEMTIME st{};
    time_t now = time(nullptr);
    GetLocalTime(&st);
    const tm local = *std::localtime(&now); // the test's only thread: no race on its buffer
    // Taken a moment apart: allow the minute to have turned.
    EXPECT_EQ(st.wYear, local.tm_year + 1900 + (local.tm_mon == 11 && st.wMonth == 1 ? 1 : 0));
    EXPECT_GE(st.wMonth, 1);
    EXPECT_LE(st.wMonth, 12);
    EXPECT_GE(st.wDay, 1);
    EXPECT_LE(st.wDay, 31);
    EXPECT_LE(st.wDayOfWeek, 6);
    EXPECT_LE(st.wHour, 23);
    EXPECT_LE(st.wMinute, 59);
    EXPECT_LE(st.wSecond, 59);
    EXPECT_LE(st.wMilliseconds, 999);
    const int ours = st.wHour * 3600 + st.wMinute * 60 + st.wSecond;
    const int theirs = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    EXPECT_LE((ours - theirs + 86400) % 86400, 2);
    if (ours >= theirs) {
        EXPECT_EQ(st.wDayOfWeek, local.tm_wday);
        EXPECT_EQ(st.wDay, local.tm_mday);
        EXPECT_EQ(st.wMonth, local.tm_mon + 1);
    }
    GetLocalTime(nullptr); // ignored
}
