#include "load/Address.h"

uint32_t Address::ToPhysical() const {
    return (static_cast<uint32_t>(Bank) * PageSize + LogicalAddress) % PhysicalSpace;
}

Address Address::FromPhysical(uint32_t physical) {
    Address result;
    result.LogicalAddress = static_cast<uint16_t>(physical % PageSize + WindowBase);
    // Unsigned arithmetic on purpose: pages below the window's own page give banks that wrap
    // round to the top of the 256 banks, which still map back to the right physical page.
    result.Bank = static_cast<uint8_t>((physical / PageSize - WindowPage) % 256);
    return result;
}

Address Address::Advanced(uint32_t count) const { return FromPhysical(ToPhysical() + count); }
