// A target address in the board's banked form: a 16-bit logical address and an 8-bit bank,
// with the 20-bit physical address they stand for. The processor sees 1 MB of physical space;
// code reaches any 4 KB page of it through the bank window at logical 0xE000-0xEFFF.
#pragma once

#include <cstdint>

struct Address {
    // The physical address space wraps here; every physical value is taken modulo it.
    static constexpr uint32_t PhysicalSpace = 0x100000;
    static constexpr uint32_t PageSize = 4096;
    // Where the banked window sits in logical space, and the bank that maps page 0 into it.
    static constexpr uint16_t WindowBase = 0xE000;
    static constexpr uint32_t WindowPage = WindowBase / PageSize; // 14

    uint16_t LogicalAddress = 0;
    uint8_t Bank = 0;

    // (bank x 4096 + logical address) modulo 1 MB.
    uint32_t ToPhysical() const;
    // The banked form of p (modulo 1 MB) inside the 4 KB window at 0xE000; converting it back
    // gives p modulo 1 MB again, for every 32-bit p.
    static Address FromPhysical(uint32_t physical);
    // The address count bytes further on, wrapping at 1 MB.
    Address Advanced(uint32_t count) const;

    friend bool operator==(const Address &, const Address &) = default;
};
