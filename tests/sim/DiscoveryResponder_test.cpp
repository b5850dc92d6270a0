// The simulated discovery responder on loopback: what it answers, to where, and what it ignores.
#include "DiscoveryCommand.h"
#include "DiscoveryResponder.h"

#include "discovery/Discovery.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

TEST(DiscoveryResponder, AnswersARequestOnThePortAboveAndIgnoresOtherDatagrams) {
    sim::DiscoveryOptions options;
    options.port = 0;
    options.name = std::string(45, 'n'); // longer than the field
    options.status = 255;
    options.controlPort = 0x1094;
    // The reply port must be free for this test's own receiver; retry on a taken neighbour.
    std::unique_ptr<sim::DiscoveryResponder> responder;
    Socket receiver;
    for (int attempt = 0; attempt < 20 && !receiver.Valid(); ++attempt) {
        responder = std::make_unique<sim::DiscoveryResponder>(options);
        ASSERT_TRUE(responder->Start());
        receiver = Socket::Udp();
        if (responder->Port() == 0xFFFF ||
            receiver.Bind(Ipv4Loopback(), uint16_t(responder->Port() + 1)) != 0)
            receiver.Close();
    }
    ASSERT_TRUE(receiver.Valid());
    Socket sender = Socket::Udp();
    const uint8_t junk[5] = {1, 0, 0, 1, 'm'};
    sender.SendTo(junk, sizeof junk, Ipv4Loopback(), responder->Port());
    const auto request = BuildDiscoveryRequest();
    sender.SendTo(request.data(), request.size(), Ipv4Loopback(), responder->Port());
    ASSERT_EQ(receiver.WaitReadable(2000), 1);
    DiscoveryReplyBytes bytes{};
    const Datagram got = receiver.RecvFrom(bytes.data(), bytes.size());
    EXPECT_EQ(got.count, 86);
    const DiscoveryReply reply = DecodeDiscoveryReply(bytes);
    EXPECT_EQ(reply.name, std::string(40, 'n'));
    EXPECT_EQ(reply.status, "Error");
    EXPECT_EQ(reply.ip, "127.0.0.1");
    EXPECT_EQ(reply.port, "4244");
    EXPECT_EQ(responder->Requests().size(), 1u);
    EXPECT_EQ(responder->IgnoredDatagrams(), 1u);
    EXPECT_EQ(receiver.WaitReadable(50), 0); // the junk got no answer
}

TEST(DiscoveryCommandLine, OptionsAndMacTexts) {
    std::string error;
    const auto arguments =
        sim::ParseDiscoveryArguments({"--port", "5000", "--control-port", "4100", "--status", "2",
                                      "--mac", "0A:0b:0c:0d:0e:0F", "--silent"},
                                     &error);
    ASSERT_TRUE(arguments) << error;
    EXPECT_EQ(arguments->responder.port, 5000);
    EXPECT_EQ(arguments->responder.controlPort, 4100);
    EXPECT_EQ(arguments->responder.status, 2);
    EXPECT_TRUE(arguments->responder.silent);
    EXPECT_EQ(arguments->responder.mac, (std::array<uint8_t, 6>{10, 11, 12, 13, 14, 15}));
    EXPECT_FALSE(sim::ParseMac("0a:0b:0c:0d:0e"));
    EXPECT_FALSE(sim::ParseMac("0a-0b-0c-0d-0e-0f"));
    EXPECT_FALSE(sim::ParseDiscoveryArguments({"--port", "70000"}, &error));
}

} // namespace
