#include "load/Address.h"

#include <gtest/gtest.h>

TEST(Address, ToPhysicalCombinesBankAndLogicalModuloOneMegabyte) {
    EXPECT_EQ((Address{0, 0}.ToPhysical()), 0u);
    EXPECT_EQ((Address{0xE123, 114}.ToPhysical()), 0x80123u);
    // 255 x 4096 + 0xFFFF runs past 1 MB and wraps.
    EXPECT_EQ((Address{0xFFFF, 255}.ToPhysical()), 0xEFFFu);
}

TEST(Address, FromPhysicalLandsInTheBankWindow) {
    EXPECT_EQ(Address::FromPhysical(0x80123), (Address{0xE123, 114}));
    // Pages below the window's own page give banks that wrap below zero.
    EXPECT_EQ(Address::FromPhysical(0), (Address{0xE000, 242}));
    EXPECT_EQ(Address::FromPhysical(0xDFFF), (Address{0xEFFF, 255}));
    EXPECT_EQ(Address::FromPhysical(0xE000), (Address{0xE000, 0}));
}

TEST(Address, RoundTripGivesThePhysicalValueModuloOneMegabyte) {
    const uint32_t samples[] = {0,        1,          0xFFF,      0x1000,    0xDFFF,   0xE000,
                                0x7FFFF,  0x80000,    0xFFFFF,    0x100000,  0x100001, 0x17FFFF,
                                0x1ABCDE, 0x7FFFFFFF, 0xFFFFF000, 0xFFFFFFFF};
    for (const uint32_t p : samples) {
        const Address banked = Address::FromPhysical(p);
        EXPECT_GE(banked.LogicalAddress, 0xE000) << std::hex << p;
        EXPECT_LE(banked.LogicalAddress, 0xEFFF) << std::hex << p;
        EXPECT_EQ(banked.ToPhysical(), p % 0x100000) << std::hex << p;
    }
}

TEST(Address, AdvancingWrapsAtOneMegabyte) {
    EXPECT_EQ(Address{}.Advanced(300).ToPhysical(), 300u);
    EXPECT_EQ(Address::FromPhysical(0xFFFC0).Advanced(128).ToPhysical(), 0x40u);
    EXPECT_EQ(Address::FromPhysical(0xFFF80).Advanced(128).ToPhysical(), 0u);
    EXPECT_EQ(Address::FromPhysical(0x1000).Advanced(0xFFFFFFFF).ToPhysical(), 0xFFFu);
}
