// The replacing global operator new and delete, every form the language has: plain, array,
// nothrow, aligned and sized. Each new counts once; memory comes from malloc (or aligned_alloc)
// and goes back with free, so any delete form frees what any new form gave.
#include "AllocationCounter.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

std::atomic<uint64_t> allocations{0};

// Whatever the form, the allocation is counted and, like the library's own operator new, it
// calls the new-handler until memory comes or there is no handler left.
void *Allocate(std::size_t size, std::size_t alignment) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (size == 0) size = 1;
    for (;;) {
        void *memory = nullptr;
        if (alignment <= alignof(std::max_align_t)) {
            memory = std::malloc(size);
        } else {
            // aligned_alloc takes only whole multiples of the alignment.
            const std::size_t rounded = (size + alignment - 1) / alignment * alignment;
            memory = std::aligned_alloc(alignment, rounded);
        }
        if (memory) return memory;
        std::new_handler handler = std::get_new_handler();
        if (!handler) throw std::bad_alloc();
        handler();
    }
}

void *AllocateNoThrow(std::size_t size, std::size_t alignment) noexcept {
    try {
        return Allocate(size, alignment);
    } catch (...) {
        return nullptr;
    }
}

constexpr std::size_t Plain = alignof(std::max_align_t);

} // namespace

namespace bench {

uint64_t AllocationCount() { return allocations.load(std::memory_order_relaxed); }

} // namespace bench

void *operator new(std::size_t size) { return Allocate(size, Plain); }
void *operator new[](std::size_t size) { return Allocate(size, Plain); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    return AllocateNoThrow(size, Plain);
}
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
    return AllocateNoThrow(size, Plain);
}
void *operator new(std::size_t size, std::align_val_t alignment) {
    return Allocate(size, static_cast<std::size_t>(alignment));
}
void *operator new[](std::size_t size, std::align_val_t alignment) {
    return Allocate(size, static_cast<std::size_t>(alignment));
}
void *operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t &) noexcept {
    return AllocateNoThrow(size, static_cast<std::size_t>(alignment));
}
void *operator new[](std::size_t size, std::align_val_t alignment,
                     const std::nothrow_t &) noexcept {
    return AllocateNoThrow(size, static_cast<std::size_t>(alignment));
}

void operator delete(void *memory) noexcept { std::free(memory); }
void operator delete[](void *memory) noexcept { std::free(memory); }
void operator delete(void *memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void *memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void *memory, const std::nothrow_t &) noexcept { std::free(memory); }
void operator delete[](void *memory, const std::nothrow_t &) noexcept { std::free(memory); }
void operator delete(void *memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void *memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void *memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void *memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void *memory, std::align_val_t, const std::nothrow_t &) noexcept {
    std::free(memory);
}
void operator delete[](void *memory, std::align_val_t, const std::nothrow_t &) noexcept {
    std::free(memory);
}
