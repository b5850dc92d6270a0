// The benchmarks' replacing operator new: every form counts once, on any thread, and hands out
// memory that works like the library's.
#include "AllocationCounter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

namespace {

using bench::AllocationWindow;

// Calls the operator functions themselves: unlike new-expressions, the compiler may not leave
// them out.
TEST(AllocationCounter, EveryFormOfNewCountsOnce) {
    const std::align_val_t wide{64};
    struct Form {
        const char *name;
        void (*allocateAndFree)(std::align_val_t);
    };
    const Form forms[] = {
        {"plain", [](std::align_val_t) { ::operator delete(::operator new(24)); }},
        {"array", [](std::align_val_t) { ::operator delete[](::operator new[](24)); }},
        {"nothrow",
         [](std::align_val_t) {
             ::operator delete(::operator new(24, std::nothrow), std::nothrow);
         }},
        {"array nothrow",
         [](std::align_val_t) {
             ::operator delete[](::operator new[](24, std::nothrow), std::nothrow);
         }},
        {"sized delete", [](std::align_val_t) { ::operator delete(::operator new(24), 24); }},
        {"aligned", [](std::align_val_t a) { ::operator delete(::operator new(24, a), a); }},
        {"array aligned",
         [](std::align_val_t a) { ::operator delete[](::operator new[](24, a), a); }},
        {"aligned nothrow",
         [](std::align_val_t a) {
             ::operator delete(::operator new(24, a, std::nothrow), a, std::nothrow);
         }},
        {"array aligned nothrow",
         [](std::align_val_t a) {
             ::operator delete[](::operator new[](24, a, std::nothrow), a, std::nothrow);
         }},
        {"sized aligned delete",
         [](std::align_val_t a) { ::operator delete(::operator new(24, a), 24, a); }},
    };
    for (const Form &form : forms) {
        const AllocationWindow window;
        form.allocateAndFree(wide);
        EXPECT_EQ(window.Count(), 1u) << form.name;
    }
}

TEST(AllocationCounter, AllocationsOnOtherThreadsAreCountedWithoutLosingAny) {
    constexpr int Threads = 4, Each = 50000;
    const AllocationWindow window;
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < Each; ++i) ::operator delete(::operator new(16));
        });
    for (std::thread &thread : threads) thread.join();
    // Starting a thread allocates its state too: a few more than the loops, never fewer.
    EXPECT_GE(window.Count(), uint64_t(Threads) * Each);
    EXPECT_LT(window.Count(), uint64_t(Threads) * Each + 100);
}

TEST(AllocationCounter, AWindowCountsOnlyWhatHappensInsideIt) {
    std::vector<int> before(1000, 1);
    const AllocationWindow window;
    EXPECT_EQ(window.Count(), 0u);
    std::vector<int> copy = before; // one allocation for the copy's elements
    volatile int sink = copy[999];
    (void)sink;
    EXPECT_EQ(window.Count(), 1u);
    copy.assign(500, 2); // fits the capacity: no allocation
    EXPECT_EQ(window.Count(), 1u);
}

TEST(AllocationCounter, AlignedMemoryHasTheAlignmentAndTheWholeSize) {
    // Sizes that are not multiples of the alignment: aligned_alloc alone would refuse them.
    for (const size_t alignment : {size_t(32), size_t(256), size_t(4096)}) {
        for (const size_t size : {size_t(1), size_t(100), alignment + 1}) {
            void *memory = ::operator new(size, std::align_val_t(alignment));
            ASSERT_NE(memory, nullptr);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(memory) % alignment, 0u) << alignment;
            std::memset(memory, 0xA5, size); // a sanitizer build sees any overrun
            ::operator delete(memory, std::align_val_t(alignment));
        }
    }
    void *first = ::operator new(0), *second = ::operator new(0);
    EXPECT_NE(first, nullptr);
    EXPECT_NE(first, second) << "every allocation, even of no bytes, is a distinct object";
    ::operator delete(first);
    ::operator delete(second);
}

#if defined(__SANITIZE_ADDRESS__)
#define TARNWICK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARNWICK_ASAN 1
#endif
#endif

#ifndef TARNWICK_ASAN
int handlerCalls = 0;
void GiveUp() {
    ++handlerCalls;
    std::set_new_handler(nullptr); // the next failure throws
}
#endif

TEST(AllocationCounter, AnAllocationThatCannotBeMetCallsTheHandlerThenFails) {
#ifdef TARNWICK_ASAN
    GTEST_SKIP() << "AddressSanitizer stops the program at an impossible allocation";
#else
    const size_t impossible = SIZE_MAX / 2;
    EXPECT_EQ(::operator new(impossible, std::nothrow), nullptr);
    EXPECT_EQ(::operator new(impossible, std::align_val_t(64), std::nothrow), nullptr);
    handlerCalls = 0;
    std::set_new_handler(&GiveUp);
    EXPECT_THROW(::operator delete(::operator new(impossible)), std::bad_alloc);
    EXPECT_EQ(handlerCalls, 1);
    std::set_new_handler(nullptr);
#endif
}

} // namespace
