// Discovery rounds against the simulated responder, all on 127.0.0.1.
#include "DiscoverySupport.h"

#include "comm/ConnectionErr.h"
#include "discovery/Discovery.h"
#include "settings/Zepenvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <thread>

using discoverytest::ManualClock;
using discoverytest::StartResponder;

namespace {

const char Loopback[] = "127.0.0.1";

int32_t CodeOf(const std::function<void()> &action) {
    try {
        action();
    } catch (const xConnectionErr &e) {
        return e.InternalCode;
    }
    return -1;
}

DiscoveryReplyBytes ReplyWith(std::initializer_list<std::pair<size_t, uint8_t>> bytes) {
    DiscoveryReplyBytes reply{};
    for (auto [offset, value] : bytes) reply[offset] = value;
    return reply;
}

DiscoveryReply Sentinel() { return {"n", "i", "p", "s", "m"}; }

bool SameReply(const DiscoveryReply &a, const DiscoveryReply &b) {
    return a.name == b.name && a.ip == b.ip && a.port == b.port && a.status == b.status &&
           a.mac == b.mac;
}

// ---- the datagrams ----

TEST(DiscoveryDatagrams, RequestIsEightyFourBytesWithTheAskingName) {
    const auto request = BuildDiscoveryRequest();
    const uint8_t head[] = {0x01, 0x00, 0x00, 0x01, 'm', 'y', 'n', 'a', 'm', 'e', 0};
    EXPECT_TRUE(std::equal(std::begin(head), std::end(head), request.begin()));
    EXPECT_TRUE(std::all_of(request.begin() + 11, request.end(), [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(IsDiscoveryRequest(request.data(), request.size()));
    EXPECT_FALSE(IsDiscoveryRequest(request.data(), 83));
}

TEST(DiscoveryDatagrams, StatusWordIsReadLittleEndian) {
    EXPECT_EQ(DecodeDiscoveryReply(ReplyWith({{2, 0x01}, {3, 0x00}})).status, "Programmed");
    EXPECT_EQ(DecodeDiscoveryReply(ReplyWith({{2, 0x00}, {3, 0x01}})).status, "unknown status");
    EXPECT_EQ(DecodeDiscoveryReply(ReplyWith({{2, 0}})).status, "Running");
    EXPECT_EQ(DecodeDiscoveryReply(ReplyWith({{2, 2}})).status, "Waiting");
    EXPECT_EQ(DecodeDiscoveryReply(ReplyWith({{2, 255}})).status, "Error");
}

TEST(DiscoveryDatagrams, AddressPortAndMacTexts) {
    const auto reply = DecodeDiscoveryReply(ReplyWith({{44, 10},
                                                       {45, 0},
                                                       {46, 0},
                                                       {47, 7},
                                                       {54, 0x94},
                                                       {55, 0x10},
                                                       {48, 0x00},
                                                       {49, 0x1A},
                                                       {50, 0xB2},
                                                       {51, 0x3C},
                                                       {52, 0xFF},
                                                       {53, 0x05}}));
    EXPECT_EQ(reply.ip, "10.0.0.7");
    EXPECT_EQ(reply.port, "4244");
    EXPECT_EQ(reply.mac, "00:1a:b2:3c:ff:05");
}

TEST(DiscoveryDatagrams, NameFillingItsFieldEndsWithTheField) {
    DiscoveryReplyBytes bytes{};
    for (size_t i = 0; i < 40; ++i) bytes[4 + i] = uint8_t('A' + i % 26);
    bytes[44] = 1; // the address right behind is not part of the name
    EXPECT_EQ(DecodeDiscoveryReply(bytes).name, "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMN");
    bytes[4 + 5] = 0;
    EXPECT_EQ(DecodeDiscoveryReply(bytes).name, "ABCDE");
}

// ---- rounds ----

TEST(DiscoveryRound, WithoutAnswersThreeRequestsGoOutOneSecondApartAndNothingIsFilled) {
    sim::DiscoveryOptions options;
    options.silent = true;
    auto device = StartResponder(options);
    ASSERT_TRUE(device);
    ManualClock clock;
    DeviceDiscovery discovery([&] { return clock(); });
    discovery.Start(device->Port(), Loopback);
    std::vector<uint32_t> sentAt;
    DiscoveryReply reply = Sentinel();
    // A five-second round polled every 100 ms.
    for (clock.now = 0; clock.now <= 5000; clock.now += 100) {
        EXPECT_FALSE(discovery.Poll(reply));
        if (device->WaitForRequests(sentAt.size() + 1, std::chrono::milliseconds(20)))
            sentAt.push_back(clock.now);
    }
    // A resend goes once its time is past, so the 100 ms polls send at 1.1 and 2.2 seconds.
    EXPECT_EQ(sentAt, (std::vector<uint32_t>{0, 1100, 2200}));
    EXPECT_EQ(device->Requests().size(), 3u);
    EXPECT_TRUE(SameReply(reply, Sentinel()));
    discovery.Stop();
}

TEST(DiscoveryRound, DeviceAnsweringEveryRequestGivesThreeIdenticalResults) {
    sim::DiscoveryOptions options;
    options.name = "bench-7";
    options.status = 1;
    options.controlPort = 4244;
    options.mac = {0x02, 0xAB, 0x00, 0x00, 0x10, 0x7F};
    auto device = StartResponder(options);
    ASSERT_TRUE(device);
    ManualClock clock;
    DeviceDiscovery discovery([&] { return clock(); });
    discovery.Start(device->Port(), Loopback);
    std::vector<DiscoveryReply> replies;
    for (clock.now = 0; clock.now <= 3000; clock.now += 100) {
        DiscoveryReply reply;
        // Each answer arrives a moment after its request; give it that moment.
        for (int i = 0; i < 20 && !discovery.Poll(reply); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (!reply.ip.empty()) replies.push_back(reply);
    }
    ASSERT_EQ(replies.size(), 3u);
    for (const auto &reply : replies) {
        EXPECT_EQ(reply.name, "bench-7");
        EXPECT_EQ(reply.ip, "127.0.0.1");
        EXPECT_EQ(reply.port, "4244");
        EXPECT_EQ(reply.status, "Programmed");
        EXPECT_EQ(reply.mac, "02:ab:00:00:10:7f");
    }
}

TEST(DiscoveryRound, ReplyInTwoPartsIsJoinedAndAnUnfinishedOneDropped) {
    ManualClock clock;
    auto device = StartResponder({}); // only to find a free pair of ports; it never hears us
    ASSERT_TRUE(device);
    const uint16_t port = device->Port();
    device->Stop();
    DeviceDiscovery discovery([&] { return clock(); });
    discovery.Start(port, Loopback);
    sim::DiscoveryOptions named;
    named.name = "split";
    const auto whole = sim::BuildDiscoveryReply(named);
    platform::Socket sender = platform::Socket::Udp();
    sender.SendTo(whole.data(), 40, platform::Ipv4Loopback(), uint16_t(port + 1));
    sender.SendTo(whole.data() + 40, whole.size() - 40, platform::Ipv4Loopback(),
                  uint16_t(port + 1));
    DiscoveryReply reply = Sentinel();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(discovery.Poll(reply));
    EXPECT_EQ(reply.name, "split");

    reply = Sentinel();
    sender.SendTo(whole.data(), 40, platform::Ipv4Loopback(), uint16_t(port + 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(discovery.Poll(reply));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_TRUE(SameReply(reply, Sentinel()));
}

TEST(DiscoveryRound, DestinationThatIsNoAddressSendsNothing) {
    DeviceDiscovery discovery;
    for (const char *destination : {"", "localhost", "10.0.0"}) {
        EXPECT_EQ(CodeOf([&] { discovery.Start(4242, destination); }),
                  DiscoveryCode::RequestFailed);
        EXPECT_FALSE(discovery.RoundOpen());
    }
}

TEST(DiscoveryRound, ReplyPortAlreadyTakenFailsWith3009) {
    platform::Socket holder = platform::Socket::Udp();
    ASSERT_EQ(holder.Bind(platform::Ipv4Any, 0), 0);
    DeviceDiscovery discovery;
    EXPECT_EQ(CodeOf([&] { discovery.Start(uint16_t(holder.LocalPort() - 1), Loopback); }),
              DiscoveryCode::BindFailed);
}

// ---- the engine's operations and the command line ----

// The line tarnwick-cli prints: whatever a name holds, four tabs of its own and no other control.
TEST(DiscoveryDatagrams, DeviceLineKeepsFiveFieldsOnOneLineWhateverTheNameHolds) {
    const std::string names[] = {"", "\t", "a\tb\nc", "\x1b[2J\r", std::string("n\0ul", 4)};
    for (const std::string &name : names) {
        const DiscoveryReply reply{name, "10.0.0.7", "4244", "Running", "00:1a:2b:3c:4d:5e"};
        const std::string line = DeviceLine(reply);
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 4) << line;
        EXPECT_EQ(line.find_first_of(std::string("\n\r\x1b\0", 4)), std::string::npos) << line;
        EXPECT_EQ(line.substr(line.find('\t')), "\t10.0.0.7\t4244\tRunning\t00:1a:2b:3c:4d:5e");
    }
}

TEST(DiscoveryOperations, UseTheConfiguredDestinationAndFillTheFiveTexts) {
    sim::DiscoveryOptions options;
    options.name = "ops";
    options.controlPort = 5001;
    auto device = StartResponder(options);
    ASSERT_TRUE(device);
    Env().DiscoveryBroadcastAddress = Loopback;
    StartDiscovery(device->Port());
    std::string name = "x", ip = "x", port = "x", status = "x", mac = "x";
    bool taken = false;
    for (int i = 0; i < 200 && !taken; ++i) {
        taken = PollDiscovery(name, ip, port, status, mac);
        if (!taken) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    StopDiscovery();
    ASSERT_TRUE(taken);
    EXPECT_EQ(name, "ops");
    EXPECT_EQ(ip, "127.0.0.1");
    EXPECT_EQ(port, "5001");
    EXPECT_EQ(status, "Running");
}

TEST(DiscoveryOperations, RoundListsADeviceOnceAsOneLine) {
    sim::DiscoveryOptions options;
    options.name = "cli";
    options.controlPort = 4100;
    auto device = StartResponder(options);
    ASSERT_TRUE(device);
    Env().DiscoveryBroadcastAddress = Loopback;
    std::vector<std::string> lines;
    // Two seconds: requests at 0 and about 1.1 s, two answers, one device.
    RunDiscoveryRound(2000, device->Port(),
                      [&](const DiscoveryReply &reply) { lines.push_back(DeviceLine(reply)); });
    EXPECT_EQ(device->Requests().size(), 2u);
    EXPECT_EQ(lines, std::vector<std::string>{"cli\t127.0.0.1\t4100\tRunning\t02:00:5e:10:00:01"});
}

} // namespace
