// The sparse memory of a board running CorvixSys: runs that merge, later writes that win, and
// the bounds a host cannot pass.
#include "ProgramMemory.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;
using sim::ProgramMemory;

struct Write {
    uint32_t address;
    Bytes data;
};

struct MergeCase {
    const char *name;
    std::vector<Write> writes;
    size_t runs; // how many runs are left
};

// What the writes leave, byte by byte, computed the plain way.
std::map<uint64_t, uint8_t> Plain(const std::vector<Write> &writes) {
    std::map<uint64_t, uint8_t> bytes;
    for (const Write &w : writes)
        for (size_t i = 0; i < w.data.size(); ++i) bytes[uint64_t(w.address) + i] = w.data[i];
    return bytes;
}

class ProgramMemoryMerge : public testing::TestWithParam<MergeCase> {};

TEST_P(ProgramMemoryMerge, KeepsEveryByteOfTheLastWriteAndMergesRuns) {
    ProgramMemory memory;
    for (const Write &w : GetParam().writes)
        ASSERT_TRUE(memory.Write(w.address, w.data.data(), w.data.size()));
    EXPECT_EQ(memory.Runs().size(), GetParam().runs);
    const auto plain = Plain(GetParam().writes);
    EXPECT_EQ(memory.BytesStored(), plain.size());
    for (const auto &[address, value] : plain)
        EXPECT_EQ(memory.Read(uint32_t(address), 1), Bytes{value}) << std::hex << address;
    // A byte on either side of the written span stays untouched.
    const uint64_t first = plain.begin()->first, last = plain.rbegin()->first;
    if (first > 0 && !plain.count(first - 1)) {
        EXPECT_EQ(memory.Read(uint32_t(first - 1), 1), Bytes{ProgramMemory::Untouched});
    }
    if (last < UINT32_MAX) {
        EXPECT_EQ(memory.Read(uint32_t(last + 1), 1), Bytes{ProgramMemory::Untouched});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sim, ProgramMemoryMerge,
    testing::Values(MergeCase{"Apart", {{0x100, {1, 2}}, {0x200, {3}}}, 2},
                    MergeCase{"Touching", {{0x100, {1, 2}}, {0x102, {3, 4}}}, 1},
                    MergeCase{"TouchingFromBelow", {{0x102, {3, 4}}, {0x100, {1, 2}}}, 1},
                    MergeCase{"Overlapping", {{0x100, {1, 2, 3, 4}}, {0x102, {9, 9, 9}}}, 1},
                    MergeCase{"Inside", {{0x100, {1, 2, 3, 4, 5}}, {0x101, {8}}}, 1},
                    MergeCase{"Bridging", {{0x100, {1}}, {0x104, {2}}, {0x101, {7, 7, 7}}}, 1},
                    MergeCase{
                        "Covering", {{0x101, {1}}, {0x103, {2}}, {0x100, {5, 5, 5, 5, 5}}}, 1},
                    MergeCase{"TopOfTheSpace", {{0xFFFF'FFFE, {1, 2}}, {0x0, {3}}}, 2}),
    [](const auto &param) { return std::string(param.param.name); });

TEST(ProgramMemory, RefusesWhatPassesTheEndOfTheSpaceOrTheCapacity) {
    ProgramMemory memory;
    const Bytes two{1, 2};
    EXPECT_FALSE(memory.Write(0xFFFF'FFFF, two.data(), two.size()));
    const Bytes big(ProgramMemory::Capacity, 0x11);
    ASSERT_TRUE(memory.Write(0x1000, big.data(), big.size()));
    EXPECT_FALSE(memory.Write(0x0, two.data(), 1)) << "a new byte beyond the capacity";
    EXPECT_TRUE(memory.Write(0x1000, two.data(), two.size())) << "overwriting costs nothing";
    EXPECT_EQ(memory.BytesStored(), ProgramMemory::Capacity);
    EXPECT_EQ(memory.Read(0x0FFF, 3), (Bytes{ProgramMemory::Untouched, 1, 2}));
}

} // namespace
