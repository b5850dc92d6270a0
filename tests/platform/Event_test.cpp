#include "platform/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace platform;
using namespace std::chrono_literals;

TEST(ManualResetEvent, StartsAsGivenAndStaysSetUntilReset) {
    ManualResetEvent unset;
    EXPECT_FALSE(unset.IsSet());
    EXPECT_FALSE(unset.Wait(0));
    ManualResetEvent set(true);
    EXPECT_TRUE(set.IsSet());
    EXPECT_TRUE(set.Wait(0));
    EXPECT_TRUE(set.Wait());
    EXPECT_TRUE(set.Wait(10)); // manual reset: a wait does not clear it
    set.Reset();
    EXPECT_FALSE(set.IsSet());
    set.Set();
    set.Set();
    EXPECT_TRUE(set.IsSet());
}

TEST(ManualResetEvent, WaitTimesOut) {
    ManualResetEvent event;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(event.Wait(40));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 39ms);
    EXPECT_LT(elapsed, 2000ms);
}

TEST(ManualResetEvent, SetFromAnotherThreadReleasesAllWaiters) {
    ManualResetEvent event;
    std::atomic<int> released{0};
    std::thread a([&] { released += event.Wait(5000) ? 1 : 0; });
    std::thread b([&] { released += event.Wait(-1) ? 1 : 0; });
    std::this_thread::sleep_for(20ms);
    event.Set();
    a.join();
    b.join();
    EXPECT_EQ(released.load(), 2);
}

TEST(ManualResetEvent, HugeTimeoutMeansNoLimit) {
    ManualResetEvent event;
    std::thread setter([&] {
        std::this_thread::sleep_for(10ms);
        event.Set();
    });
    EXPECT_TRUE(event.Wait(INT64_MAX));
    setter.join();
}

namespace {
void CountNotify(void *context) { ++*static_cast<std::atomic<int> *>(context); }
} // namespace

TEST(ManualResetEvent, WatchersAreNotifiedOnSetUntilRemoved) {
    ManualResetEvent event;
    std::atomic<int> first{0}, second{0};
    ManualResetEvent::Watcher w1{CountNotify, &first};
    ManualResetEvent::Watcher w2{CountNotify, &second};
    event.AddWatcher(&w1);
    event.AddWatcher(&w2);
    event.Set();
    EXPECT_EQ(first.load(), 1);
    EXPECT_EQ(second.load(), 1);
    event.RemoveWatcher(&w1);
    event.Reset();
    event.Set();
    EXPECT_EQ(first.load(), 1);
    EXPECT_EQ(second.load(), 2);
    event.RemoveWatcher(&w2);
    event.RemoveWatcher(&w2); // removing twice is harmless
    event.Set();
    EXPECT_EQ(second.load(), 2);
}
