// The log's readable form of frames: name lines, detail lines, the ID block dump.
#include "comm/PacketCodec.h"
#include "comm/PacketLogDecoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace commlog;

namespace {

std::string Decode(const std::vector<uint8_t> &frame, bool stuffed = true) {
    std::string text;
    auto sink = [&](const char *bytes, size_t count) { text.append(bytes, count); };
    {
        LogText out(sink);
        DecodeFrame(frame.data(), static_cast<uint32_t>(frame.size()), stuffed, out);
    }
    return text;
}

std::vector<uint8_t> Frame(uint8_t type, uint8_t subtype, std::vector<uint8_t> payload) {
    return packet::MakeFrame(type, subtype, payload.data(), payload.size());
}

// The device link's framing: the same bytes, nothing escaped.
std::vector<uint8_t> PlainFrame(uint8_t type, uint8_t subtype, std::vector<uint8_t> payload) {
    uint8_t header[packet::HeaderSize];
    packet::BuildHeader(header, type, subtype, static_cast<uint16_t>(payload.size()));
    uint8_t checksum[2];
    packet::StoreLe16(checksum, packet::PacketChecksum(header, payload.data(), payload.size()));
    std::vector<uint8_t> frame(payload.size() + 16);
    frame.resize(packet::EncodePlain(header, payload.data(), payload.size(), checksum, frame.data(),
                                     frame.size()));
    return frame;
}

constexpr uint8_t Sys = packet::TypeSys, Dbg = packet::TypeDbg;
constexpr uint8_t Ack = packet::AckBit, Nak = packet::NakBit;

struct DecodeCase {
    const char *name;
    std::vector<uint8_t> frame;
    const char *expected;
};

class DecodesFrames : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodesFrames, IntoItsNameAndDetailLines) {
    EXPECT_EQ(Decode(GetParam().frame), GetParam().expected);
}

std::vector<uint8_t> Truncated(std::vector<uint8_t> frame, size_t drop) {
    frame.resize(frame.size() - drop);
    return frame;
}

const DecodeCase DecodeCases[] = {
    {"ReadNak", Frame(Sys, 2 | Nak, {}), "SYS/READ (NAK)\r\n"},
    {"ReadMode3UsesTheSecondWord", Frame(Sys, 2, {3, 4, 0, 0, 0, 0x34, 0x12}),
     "SYS/READ\r\n4 bytes from 0x1234\r\n"},
    {"WriteMode0", Frame(Sys, 3, {0, 0x80, 0, 0, 0, 0x08, 0, 0xAA}),
     "SYS/WRITE\r\n128 bytes to 0x80000\r\n"},
    {"WriteMode1SegmentAndOffset", Frame(Sys, 3, {1, 0x10, 0, 0x34, 0x12, 0x08, 0}),
     "SYS/WRITE\r\n16 bytes to 0x08:1234\r\n"},
    {"WriteMode3", Frame(Sys, 3, {3, 0x20, 0, 0xCD, 0xAB}), "SYS/WRITE\r\n32 bytes to 0xabcd\r\n"},
    {"WriteUnknownModeHasNoDetail", Frame(Sys, 3, {2, 0x20, 0, 0xCD, 0xAB, 0, 0}), "SYS/WRITE\r\n"},
    {"WriteAckWithoutPayload", Frame(Sys, 3 | Ack, {}), "SYS/WRITE (ACK)\r\n"},
    // 0x7E in the count goes over the line as 7D 5E.
    {"StuffedByteDecoded", Frame(Sys, 3, {0, 0x7E, 0, 0, 0, 0x08, 0}),
     "SYS/WRITE\r\n126 bytes to 0x80000\r\n"},
    // A frame cut short (as a bad frame's raw copy may be) shows no detail it does not carry.
    {"CutFrameKeepsOnlyItsName", Truncated(Frame(Sys, 3, {0, 0x80, 0, 0, 0, 0x08, 0}), 6),
     "SYS/WRITE\r\n"},
    {"FlashDataRequest", Frame(Sys, 10, {0x00, 0x10, 0x80, 0x00, 0x08, 0x00, 0x12, 0x00}),
     "SYS/FLASHDATA\r\nsectorsize = 4096\r\nnumber of sectors = 128\r\nflashsize = 8\r\n"
     "write mode = 0x12\r\n"},
    {"FlashDataAckHasNoDetail", Frame(Sys, 10 | Ack, {0x00, 0x10, 0x80, 0, 8, 0, 2, 0}),
     "SYS/FLASHDATA (ACK)\r\n"},
    {"SetBaudRateRequest", Frame(Sys, 6, {0x00, 0x08, 0x07, 0x00}),
     "SYS/SETBAUDRATE\r\nBaudrate = 460800\r\n"},
    {"SetBaudRateAck", Frame(Sys, 6 | Ack, {0x00, 0x08, 0x07, 0x00}), "SYS/SETBAUDRATE (ACK)\r\n"},
    {"StartBiosInRam", Frame(Sys, 5, {1}), "SYS/STARTBIOS\r\nStart BIOS in ram\r\n"},
    {"StartBiosInFlash", Frame(Sys, 5, {2}), "SYS/STARTBIOS\r\nStart BIOS in flash\r\n"},
    {"InfoProbeRequestHasNoDump", Frame(Sys, 4, {}), "SYS/INFOPROBE\r\n"},
    {"SysCodeWithoutName", Frame(Sys, 11, {1, 2, 3}), ""},
    {"OtherType", Frame(2, 3, {0, 0x80, 0, 0, 0, 8, 0}), ""},
    {"SingleStep", Frame(Dbg, 1, {0x0A}), "DBG/SINGLESTEP\r\nSource step over\r\n"},
    {"ToggleBreakpoint", Frame(Dbg, 2, {0x00, 0x00, 0x08, 0x00, 0x13}),
     "DBG/TOGGLEBP\r\naddress = 0x80000\r\nflags = inactive active hard\r\n"},
    {"AddWatch", Frame(Dbg, 9, {0x10, 0x20, 0, 0, 4}),
     "DBG/ADDWATCH\r\naddress = 0x02010, size = 0x0004\r\n"},
    {"SendChar", Frame(Dbg, 14, {'A'}), "DBG/SENDCHAR\r\nchar = A\r\n"},
    {"SetSendFlags", Frame(Dbg, 16, {0x21}),
     "DBG/SETSENDFLAGS\r\nSet flags = SendStackData SendAck \r\n"},
    {"StdioStopsAtItsZero", Frame(Dbg, 21, {'h', 'i', 0, 'x'}), "DBG/STDIO\r\nhi\r\n"},
    {"CharReadyHasNoLineBreak", Frame(Dbg, 23, {3}), "DBG/CHARREADY\r\nchar count = 3"},
    {"EnabledOptionsReply", Frame(Dbg, 25 | Ack, {0x05, 8, 4}),
     "DBG/ENABLEDOPTIONS (ACK)\r\nmax watches = 8, max breakpoints = 4\r\n"
     "options = breakpoints  watches\r\n"},
    {"DbgNoopNak", Frame(Dbg, 24 | Nak, {}), "DBG/NOOP (NAK)\r\n"},
};

INSTANTIATE_TEST_SUITE_P(Log, DecodesFrames, ::testing::ValuesIn(DecodeCases),
                         [](const ::testing::TestParamInfo<DecodeCase> &param) {
                             return std::string(param.param.name);
                         });

TEST(DecodeFrame, LinkFramesAreTakenAsTheyAre) {
    // 0x7D is an ordinary byte on the device link: the count stays 125.
    EXPECT_EQ(Decode(PlainFrame(Sys, 3, {0, 0x7D, 0, 0, 0, 0x08, 0}), false),
              "SYS/WRITE\r\n125 bytes to 0x80000\r\n");
}

TEST(DecodeFrame, StdioTextIsCutAt256Characters) {
    std::vector<uint8_t> text(300, 'x');
    const std::string decoded = Decode(Frame(Dbg, 21, text));
    EXPECT_EQ(decoded, "DBG/STDIO\r\n" + std::string(256, 'x') + "\r\n");
}

// An INFOPROBE reply as a board sends it: twelve bytes, then the ID block.
std::vector<uint8_t> InfoProbeReply() {
    std::vector<uint8_t> payload(IdBlockOffset + IdBlockSize, 0);
    uint8_t *b = payload.data() + IdBlockOffset;
    auto le16 = [&](size_t at, uint16_t v) { packet::StoreLe16(b + at, v); };
    auto le32 = [&](size_t at, uint32_t v) { packet::StoreLe32(b + at, v); };
    auto text = [&](size_t at, const std::string &s) { std::copy(s.begin(), s.end(), b + at); };
    le16(0, 3);
    le16(2, 0x2A01);
    le16(4, 1);
    const uint8_t stamp[] = {20, 26, 12, 8, 14, 3, 7}; // offsets 6-12: 2026, 12/08, 14:03:07
    std::copy(std::begin(stamp), std::end(stamp), b + 6);
    le32(13, 0x12BF00BF);
    le16(17, 1);
    le16(19, 512);
    le16(21, 4096);
    le16(23, 128);
    le16(25, 70);
    le32(41, 0x1234);
    le16(45, 128);
    le16(47, 55);
    le16(49, 2000);
    le32(51, 22118400);
    const uint8_t mac[] = {0x00, 0x90, 0xC2, 0x01, 0x02, 0xAB};
    std::copy(std::begin(mac), std::end(mac), b + 55);
    text(61, "SN-0042");
    text(85, "Corvix Demo Board");
    le32(147, 163);
    le16(151, 0x0200);
    le16(153, 0x7E00);
    le16(155, 4660);
    text(157, "CVXID1"); // fills its field: no terminator inside the block
    return payload;
}

TEST(DecodeFrame, InfoProbeReplyDumpsTheIdBlock) {
    const std::string expected = "SYS/INFOPROBE (ACK)\r\n"
                                 "tableVersion  = 3\r\n"
                                 "productID     = 0x2A01\r\n"
                                 "vendorID      = 1\r\n"
                                 "timestamp     = 12/08/2026  14:03:07\r\n"
                                 "flashID       = 0x00BF\r\n"
                                 "flashType     = 1\r\n"
                                 "flashSize     = 512\r\n"
                                 "sectorSize    = 4096\r\n"
                                 "numSectors    = 128\r\n"
                                 "flashSpeed    = 70\r\n"
                                 "flash2ID      = 0x0000\r\n"
                                 "flash2Type    = 0\r\n"
                                 "flash2Size    = 0\r\n"
                                 "sector2Size   = 0\r\n"
                                 "num2Sectors   = 0\r\n"
                                 "flash2Speed   = 0\r\n"
                                 "ramID         = 0x1234\r\n"
                                 "ramSize       = 524288\r\n"
                                 "ramSpeed      = 55\r\n"
                                 "cpuID         = 2000\r\n"
                                 "crystalFreq   =  22.1184 MHz\r\n"
                                 "macAddr       = 00:90:C2:01:02:AB\r\n"
                                 "serialNumber  = SN-0042\r\n"
                                 "productName   = Corvix Demo Board\r\n"
                                 "reserved      = \r\n"
                                 "idBlockSize   = 163\r\n"
                                 "userBlockSize = 0200\r\n"
                                 "userBlockLoc  = 7e00\r\n"
                                 "idBlockCRC    = 4660\r\n"
                                 "marker        = CVXID1\r\n";
    EXPECT_EQ(Decode(Frame(Sys, 4 | Ack, InfoProbeReply())), expected);
}

TEST(DecodeFrame, ShortInfoProbeReplyHasNoDump) {
    std::vector<uint8_t> payload = InfoProbeReply();
    payload.pop_back();
    EXPECT_EQ(Decode(Frame(Sys, 4 | Ack, payload)), "SYS/INFOPROBE (ACK)\r\n");
}

TEST(LogText, DumpsSixteenBytesALine) {
    std::string text;
    auto sink = [&](const char *bytes, size_t count) { text.append(bytes, count); };
    std::vector<uint8_t> bytes(20);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(0xF0 + i);
    {
        LogText out(sink);
        out.HexDump(bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
    EXPECT_EQ(text, "f0 f1 f2 f3 f4 f5 f6 f7 f8 f9 fa fb fc fd fe ff \r\n00 01 02 03 \r\n");
}

TEST(LogText, LongOutputReachesTheSinkWhole) {
    // Far more than the buffer holds, in pieces of every size: nothing lost, nothing doubled.
    std::string text;
    size_t pieces = 0;
    auto sink = [&](const char *bytes, size_t count) {
        text.append(bytes, count);
        ++pieces;
    };
    std::string expected;
    {
        LogText out(sink);
        for (int i = 0; i < 3000; ++i) {
            out.Format("line %d\r\n", i);
            expected += "line " + std::to_string(i) + "\r\n";
            out.Put(std::string(static_cast<size_t>(i % 7), 'z'));
            expected += std::string(static_cast<size_t>(i % 7), 'z');
        }
    }
    EXPECT_EQ(text, expected);
    EXPECT_GT(pieces, 1u);
}

} // namespace
