// Counts the heap allocations of the whole process, on every thread. Linked only into the
// benchmark programs (and the counter's own test), where it replaces the global operator new:
// a benchmark reads the count before and after a load to tell what each packet costs.
#pragma once

#include <cstdint>

namespace bench {

// Calls of operator new, in any of its forms, since the program started.
uint64_t AllocationCount();

// Allocations made between construction and Count().
class AllocationWindow {
public:
    AllocationWindow() : start_(AllocationCount()) {}
    uint64_t Count() const { return AllocationCount() - start_; }

private:
    uint64_t start_;
};

} // namespace bench
