// The packet peer behind both front ends, reached through the product's own serial ports: RFC
// 2217 over loopback and a pseudo-terminal.
#include "PacketPeer.h"
#include "PtyFrontEnd.h"
#include "Rfc2217Server.h"

#include "platform/Serial.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

// Reads frames from the port until count arrived, the port failed or the time is up.
std::vector<sim::Frame> ReadFrames(platform::SerialPort &port, size_t count,
                                   std::chrono::milliseconds timeout) {
    sim::FrameDecoder decoder;
    std::vector<sim::Frame> frames;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (frames.size() < count && std::chrono::steady_clock::now() < deadline) {
        if (port.WaitReadable(20) < 0) break;
        uint8_t chunk[1024];
        const long n = port.ReadNow(chunk, sizeof chunk);
        if (n < 0) break;
        decoder.Feed(chunk, size_t(n), frames);
    }
    return frames;
}

bool SendFrame(platform::SerialPort &port, const sim::Frame &frame) {
    const Bytes bytes = sim::EncodeFrame(frame);
    return port.Write(bytes.data(), bytes.size());
}

// The port fails (hang-up or closed connection) within the time.
bool PortFails(platform::SerialPort &port, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        int waited = port.WaitReadable(20);
        uint8_t byte;
        if (waited < 0 || (waited == 1 && port.ReadNow(&byte, 1) < 0)) return true;
    }
    return false;
}

class FrontEnds : public ::testing::TestWithParam<bool> { // the parameter: paced or not
protected:
    void SetUp() override {
        peer.SetRule({0, 4, sim::ReplyKind::Ack, {0x10, 0x7E, 0xFF, 0x7D}});
        peer.SetRule({0, 9, sim::ReplyKind::Ack, {}, sim::PacketFault::Close, 0});
    }
    void RoundTrip(platform::SerialPort &port) {
        ASSERT_TRUE(SendFrame(port, {0, 4, {0xFF, 0x7E}}));
        auto frames = ReadFrames(port, 1, 5000ms);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].subtype, 0x84);
        EXPECT_EQ(frames[0].payload, (Bytes{0x10, 0x7E, 0xFF, 0x7D}));
        ASSERT_TRUE(peer.WaitForFrames(1, 3000ms));
        EXPECT_EQ(peer.Received()[0].frame.payload, (Bytes{0xFF, 0x7E}));
        EXPECT_EQ(peer.BadFrames(), 0u);
    }
    sim::PacketPeer peer;
};

TEST_P(FrontEnds, Rfc2217ServesThePacketPeer) {
    sim::Rfc2217Server server(peer, {0, GetParam(), true});
    ASSERT_TRUE(server.Start());
    EXPECT_NE(server.Port(), 0);
    platform::SerialError error;
    auto port = platform::OpenSerialDevice(server.Url(), &error);
    ASSERT_NE(port, nullptr) << error.description;
    ASSERT_TRUE(port->Configure({115200, 0, 1, 1}));
    RoundTrip(*port);

    // The close fault drops the host; the server takes the next one.
    ASSERT_TRUE(SendFrame(*port, {0, 9, {}}));
    EXPECT_TRUE(PortFails(*port, 3000ms));
    auto again = platform::OpenSerialDevice(server.Url(), &error);
    ASSERT_NE(again, nullptr) << error.description;
    EXPECT_TRUE(server.WaitForClient(3000ms));
    EXPECT_EQ(server.ConnectionsAccepted(), 2u);
}

TEST_P(FrontEnds, PseudoTerminalServesThePacketPeer) {
    sim::PtyFrontEnd frontEnd(peer, {GetParam()});
    std::string why;
    ASSERT_TRUE(frontEnd.Start(&why)) << why;
    platform::SerialError error;
    auto port = platform::OpenSerialDevice(frontEnd.SlavePath(), &error);
    ASSERT_NE(port, nullptr) << error.description;
    ASSERT_TRUE(port->Configure({57600, 0, 1, 1}));
    RoundTrip(*port);
    // The front end noticed the rate the host put on the terminal.
    EXPECT_EQ(frontEnd.CurrentLine().baudRate, 57600u);
    ASSERT_FALSE(frontEnd.LineEvents().empty());
    EXPECT_EQ(frontEnd.LineEvents().back().value, 57600u);

    ASSERT_TRUE(SendFrame(*port, {0, 9, {}}));
    EXPECT_TRUE(PortFails(*port, 3000ms)) << "closing the master hangs the terminal up";
}

INSTANTIATE_TEST_SUITE_P(Pacing, FrontEnds, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &param) {
                             return param.param ? "Paced" : "Unpaced";
                         });

TEST(FrontEndsLife, StartStopAndRestart) {
    sim::PacketPeer peer;
    sim::Rfc2217Server server(peer);
    ASSERT_TRUE(server.Start());
    const uint16_t port = server.Port();
    server.Stop();
    server.Stop(); // twice is harmless
    platform::SerialError error;
    EXPECT_EQ(platform::OpenSerialDevice("rfc2217://127.0.0.1:" + std::to_string(port), &error),
              nullptr);

    sim::Rfc2217Server fixed(peer, {port, false, true});
    std::string why;
    ASSERT_TRUE(fixed.Start(&why)) << why;
    EXPECT_EQ(fixed.Port(), port);
    sim::PacketPeer other;
    sim::Rfc2217Server clash(other, {port, false, true});
    EXPECT_FALSE(clash.Start(&why));
    EXPECT_NE(why.find("bind"), std::string::npos) << why;
}

} // namespace
