// The simulator's own frame codec: the worked values of the packet format, stuffing, and the
// frames a board must drop.
#include "FrameCodec.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<sim::Frame> Decode(const Bytes &bytes, sim::FrameDecoder &decoder) {
    std::vector<sim::Frame> frames;
    decoder.Feed(bytes.data(), bytes.size(), frames);
    return frames;
}

TEST(FrameCodec, FletcherMatchesTheWorkedValues) {
    const uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(sim::Fletcher8(abc, 3), 0x274C);
    // Continuing from a state is the same as one run over both parts.
    EXPECT_EQ(sim::Fletcher8(abc + 1, 2, sim::Fletcher8(abc, 1)), 0x274C);
    // End-around carry: a sum reaching exactly 255 stays 255, one above wraps to 1.
    const uint8_t ff[] = {0xFF};
    EXPECT_EQ(sim::Fletcher8(ff, 1), 0xFFFF);
    const uint8_t wrap[] = {0xFF, 0x02};
    EXPECT_EQ(sim::Fletcher8(wrap, 2) >> 8, 0x02);
}

TEST(FrameCodec, EncodesTheSysNoopRequest) {
    EXPECT_EQ(sim::EncodeFrame({0, 1, {}}),
              (Bytes{0x7E, 0x02, 0x00, 0x00, 0x01, 0x00, 0x00, 0x0F, 0x03, 0x36, 0x15}));
}

TEST(FrameCodec, StuffsFlagAndEscapeAfterTheFirstByte) {
    const sim::Frame frame{1, 0x80 | 21, {0x7E, 0x7D, 0x5E, 0x5D, 0x20}};
    const Bytes encoded = sim::EncodeFrame(frame);
    EXPECT_EQ(encoded[0], 0x7E);
    for (size_t i = 1; i < encoded.size(); ++i) EXPECT_NE(encoded[i], 0x7E) << "at " << i;
    const Bytes expectedPayload{0x7D, 0x5E, 0x7D, 0x5D, 0x5E, 0x5D, 0x20};
    EXPECT_TRUE(std::search(encoded.begin(), encoded.end(), expectedPayload.begin(),
                            expectedPayload.end()) != encoded.end());

    sim::FrameDecoder decoder;
    auto frames = Decode(encoded, decoder);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].type, 1);
    EXPECT_EQ(frames[0].subtype, 0x80 | 21);
    EXPECT_EQ(frames[0].payload, frame.payload);
}

TEST(FrameCodec, DecodesFramesSplitAnywhereAndBackToBack) {
    Bytes stream{0x00, 0x55}; // noise before the first flag
    Bytes payload(300);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(i);
    for (uint8_t code : {1, 2, 3}) {
        auto encoded = sim::EncodeFrame({0, code, code == 2 ? payload : Bytes{}});
        stream.insert(stream.end(), encoded.begin(), encoded.end());
    }
    sim::FrameDecoder decoder;
    std::vector<sim::Frame> frames;
    for (uint8_t byte : stream) decoder.Feed(&byte, 1, frames);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1].payload, payload);
    EXPECT_TRUE(frames[2].payload.empty());
    EXPECT_EQ(decoder.BadFrames(), 0u);
}

TEST(FrameCodec, DropsDamagedFramesAndRecovers) {
    const Bytes good = sim::EncodeFrame({0, 4, {1, 2, 3}});
    Bytes headerBroken = sim::BuildFrame({0, 4, {1, 2, 3}});
    headerBroken[7] ^= 1;
    Bytes packetBroken = sim::BuildFrame({0, 4, {1, 2, 3}});
    packetBroken.back() ^= 1;
    Bytes tooLong = sim::BuildFrame({0, 4, {}});
    tooLong[5] = 0x01; // length 32769
    tooLong[6] = 0x80;
    const uint16_t check = sim::Fletcher8(&tooLong[1], 6);
    tooLong[7] = uint8_t(check);
    tooLong[8] = uint8_t(check >> 8);
    const Bytes cutShort(good.begin(), good.begin() + 6);

    Bytes stream;
    for (const Bytes *part : std::initializer_list<const Bytes *>{&headerBroken, &packetBroken,
                                                                  &tooLong, &cutShort, &good}) {
        const Bytes stuffed = part == &good || part == &cutShort ? *part : sim::StuffFrame(*part);
        stream.insert(stream.end(), stuffed.begin(), stuffed.end());
    }
    sim::FrameDecoder decoder;
    auto frames = Decode(stream, decoder);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].payload, (Bytes{1, 2, 3}));
    EXPECT_EQ(decoder.BadFrames(), 4u);
}

} // namespace
