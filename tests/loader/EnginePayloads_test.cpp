// The engine's wire layouts, byte for byte, without a connection.
#include "loader/LoaderPayloads.h"

#include "load/ImageFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

using Bytes = std::vector<uint8_t>;

TEST(PilotHeader, AddressLengthAndSum) {
    const PilotHeader header = BuildPilotHeader(0x4000, 0x1234);
    EXPECT_EQ(Bytes(header.begin(), header.end()),
              (Bytes{0x00, 0x40, 0x00, 0x00, 0x34, 0x12, 0x86}));
    // The sum wraps at 256.
    const PilotHeader high = BuildPilotHeader(0xFFFFFFFF, 0xFFFF);
    EXPECT_EQ(PilotHeaderChecksum(high), static_cast<uint8_t>(6 * 0xFF));
}

TEST(PilotUploadChecksum, OnesComplementSumsFromTheMarkerState) {
    const std::string abc = "abc";
    EXPECT_EQ(PilotUploadChecksum(reinterpret_cast<const uint8_t *>(abc.data()), abc.size()),
              0xF37F);
    EXPECT_EQ(PilotUploadChecksum(nullptr, 0), 0xCCCC);
    // Starting from zero over the marker gives the start value: the two are one computation.
    const uint8_t marker = 0xCC;
    EXPECT_EQ(PilotUploadChecksum(&marker, 1, 0), PilotUploadChecksumStart);
    // End-around carry: 0xFF bytes never push a sum past 0xFF.
    const Bytes ones(5, 0xFF);
    EXPECT_EQ(PilotUploadChecksum(ones.data(), ones.size(), 0xFFFF), 0xFFFF);
}

TEST(PilotUploadChecksum, SamplePilotBiosGivesItsPublishedSum) {
    // The sample pilot BIOS documents what the simulated board answers for it.
    const auto path = std::filesystem::path(__FILE__).parent_path() / "../../samples/pilot.bin";
    const FileHandle file = OpenForReading(path.string());
    if (!file) GTEST_SKIP() << "no sample pilot BIOS at " << path;
    uint16_t length = 0;
    ASSERT_EQ(PilotBiosLength(file.get(), length), 0);
    ASSERT_EQ(length, 0x0800);
    Bytes payload(length - 1u);
    ASSERT_EQ(std::fread(payload.data(), 1, payload.size(), file.get()), payload.size());
    EXPECT_EQ(PilotUploadChecksum(payload.data(), payload.size()), 0x96E6);
    EXPECT_EQ(PilotHeaderChecksum(BuildPilotHeader(0x4000, length)), 0x48);
}

TEST(SysPayloads, FlashDataWriteAndLe32) {
    const auto flashData = BuildFlashDataPayload(256, 4096, 64, 2);
    EXPECT_EQ(Bytes(flashData.begin(), flashData.end()),
              (Bytes{0x00, 0x10, 0x40, 0x00, 0x00, 0x01, 0x02, 0x00}));

    Bytes write;
    const Bytes data = {0xDE, 0xAD};
    BuildWriteBlockPayload(0x000FFF80, 2, data.data(), write);
    EXPECT_EQ(write, (Bytes{0x00, 0x02, 0x00, 0x80, 0xFF, 0x0F, 0x00, 0xDE, 0xAD}));
    BuildWriteBlockPayload(0x80000, 0, nullptr, write);
    EXPECT_EQ(write.size(), WriteBlockHeaderSize);
    EXPECT_THROW(BuildWriteBlockPayload(0x80000, 1, nullptr, write), std::invalid_argument);

    const auto le32 = BuildLe32Payload(0x00080100);
    EXPECT_EQ(Bytes(le32.begin(), le32.end()), (Bytes{0x00, 0x01, 0x08, 0x00}));
}

} // namespace
