#include "comm/PacketCodec.h"

#include <gtest/gtest.h>

#include <random>

using namespace packet;

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
    std::vector<uint8_t> out;
    for (int b : list) out.push_back(static_cast<uint8_t>(b));
    return out;
}

packet::DecodedFrame ScanOne(const std::vector<uint8_t> &wire) {
    FrameScanner scanner;
    DecodedFrame frame;
    size_t used = 0;
    EXPECT_TRUE(scanner.Feed(wire.data(), wire.size(), &used, &frame));
    EXPECT_EQ(used, wire.size());
    return frame;
}

} // namespace

TEST(PacketChecksum, WorkedValuesAndEndAroundCarry) {
    const uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(Checksum(abc, 3, 0), 0x274C);
    // A sum that reaches exactly 255 stays 255; 256 goes round to 1.
    const uint8_t ff[] = {0xFF};
    EXPECT_EQ(Checksum(ff, 1, 0), 0xFFFF);
    const uint8_t ffOne[] = {0xFF, 0x01};
    EXPECT_EQ(Checksum(ffOne, 2, 0), 0x0101);
    // The pilot BIOS upload continues from 0xCCCC: split runs equal one run.
    std::vector<uint8_t> data(1000);
    std::mt19937 random(7);
    for (auto &b : data) b = static_cast<uint8_t>(random());
    const uint16_t whole = Checksum(data.data(), data.size(), 0xCCCC);
    EXPECT_EQ(Checksum(data.data() + 400, 600, Checksum(data.data(), 400, 0xCCCC)), whole);
}

TEST(PacketFrame, SysNoopWithoutPayloadIsByteExact) {
    EXPECT_EQ(MakeFrame(TypeSys, 1, nullptr, 0),
              Bytes({0x7E, 0x02, 0x00, 0x00, 0x01, 0x00, 0x00, 0x0F, 0x03, 0x36, 0x15}));
}

TEST(PacketFrame, FlagAndEscapeAreStuffedEverywhereAfterTheFlag) {
    const std::vector<uint8_t> payload = {0x7E, 0x7D, 0x20, 0x5E};
    const std::vector<uint8_t> wire =
        MakeFrame(TypeDbg, 0x7E & CodeMask, payload.data(), payload.size());
    ASSERT_GT(wire.size(), 1u);
    EXPECT_EQ(wire[0], Flag);
    for (size_t i = 1; i < wire.size(); ++i) EXPECT_NE(wire[i], Flag) << "at " << i;
    // Payload starts after the 9 header bytes (none of which needs escaping here).
    EXPECT_EQ(std::vector<uint8_t>(wire.begin() + 9, wire.begin() + 15),
              Bytes({0x7D, 0x5E, 0x7D, 0x5D, 0x20, 0x5E}));
    const DecodedFrame frame = ScanOne(wire);
    EXPECT_TRUE(frame.good);
    EXPECT_EQ(frame.payload, payload);
}

TEST(PacketFrame, RandomPayloadsRoundTripAndStayWithinTheBound) {
    std::mt19937 random(11);
    for (size_t length : {0u, 1u, 2u, 127u, 128u, 4096u, 16384u}) {
        std::vector<uint8_t> payload(length);
        for (auto &b : payload) b = static_cast<uint8_t>(random() % 4 == 0 ? 0x7E : random());
        const auto wire = MakeFrame(TypeSys, 3, payload.data(), payload.size());
        EXPECT_GE(wire.size(), 11 + length);
        EXPECT_LE(wire.size(), StuffedFrameBound(length));
        const DecodedFrame frame = ScanOne(wire);
        EXPECT_TRUE(frame.good);
        EXPECT_EQ(frame.type, TypeSys);
        EXPECT_EQ(frame.subtype, 3);
        EXPECT_EQ(frame.payload, payload);
    }
    // The worst case, every byte escaped, still fits the encode buffer.
    std::vector<uint8_t> flags(MaxSendPayload, Flag);
    EXPECT_LE(MakeFrame(TypeSys, 3, flags.data(), flags.size()).size(), EncodeBufferSize);
}

TEST(PacketFrame, EncodersRefuseTooSmallBuffers) {
    uint8_t header[HeaderSize];
    BuildHeader(header, TypeSys, 1, 4);
    const uint8_t payload[4] = {0x7E, 0x7E, 0x7E, 0x7E};
    const uint8_t sum[2] = {0, 0};
    uint8_t out[64];
    EXPECT_EQ(EncodeStuffed(header, payload, 4, sum, out, StuffedFrameBound(4) - 1), 0u);
    EXPECT_EQ(EncodePlain(header, payload, 4, sum, out, 14), 0u);
}

TEST(PacketFrame, PlainFormCarriesTheSameBytesUnstuffed) {
    uint8_t header[HeaderSize];
    BuildHeader(header, TypeSys, 1, 1);
    const uint8_t payload[1] = {0x7E};
    uint8_t sum[2];
    StoreLe16(sum, PacketChecksum(header, payload, 1));
    uint8_t out[32] = {};
    ASSERT_EQ(EncodePlain(header, payload, 1, sum, out, sizeof out), 11u);
    // From offset 1: 02 00 type subtype len len hsum hsum 7E psum psum.
    EXPECT_EQ(out[1], 0x02);
    EXPECT_EQ(out[9], 0x7E);
    EXPECT_EQ(out[10], sum[0]);
    EXPECT_EQ(out[11], sum[1]);
}

TEST(PacketHeader, ValidityChecksLengthAndHeaderSum) {
    uint8_t header[HeaderSize];
    BuildHeader(header, TypeDbg, 5, 32768);
    EXPECT_TRUE(HeaderValid(header));
    BuildHeader(header, TypeDbg, 5, 32769);
    EXPECT_FALSE(HeaderValid(header));
    BuildHeader(header, TypeDbg, 5, 10);
    header[OffHeaderSum] ^= 1;
    EXPECT_FALSE(HeaderValid(header));
}

TEST(PacketScanner, FlagInsideAFrameStartsANewOne) {
    auto first = MakeFrame(TypeSys, 2, Bytes({1, 2, 3, 4}).data(), 4);
    auto second = MakeFrame(TypeSys, 4, Bytes({9}).data(), 1);
    std::vector<uint8_t> wire(first.begin(), first.begin() + 7);
    wire.insert(wire.end(), second.begin(), second.end());
    const DecodedFrame frame = ScanOne(wire);
    EXPECT_EQ(frame.subtype, 4);
    EXPECT_EQ(frame.payload, Bytes({9}));
}

TEST(PacketNames, LogNamesOfSysAndDbgCodes) {
    EXPECT_STREQ(PacketName(TypeSys, 0), "NAK");
    EXPECT_STREQ(PacketName(TypeSys, 3), "WRITE");
    EXPECT_STREQ(PacketName(TypeSys, 10), "FLASHDATA");
    EXPECT_EQ(PacketName(TypeSys, 11), nullptr);
    EXPECT_EQ(PacketName(TypeDbg, 0), nullptr);
    EXPECT_STREQ(PacketName(TypeDbg, 1), "SINGLESTEP");
    EXPECT_STREQ(PacketName(TypeDbg, 24), "NOOP");
    EXPECT_STREQ(PacketName(TypeDbg, 25), "ENABLEDOPTIONS");
    EXPECT_EQ(PacketName(TypeDbg, 26), nullptr);
    EXPECT_EQ(PacketName(2, 1), nullptr);
}
