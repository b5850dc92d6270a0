// The RFC 2217 client against corvix-sim's server in this process: line settings arrive as
// configured, DSR changes come back, 0xFF survives the Telnet escaping, and a server that does
// not answer never holds the client up.
#include "SerialTestSupport.h"

#include "Rfc2217Server.h"
#include "platform/Rfc2217Client.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <future>
#include <netinet/in.h>
#include <sys/socket.h>

using namespace serialtest;
using platform::SerialSettings;
using sim::LineEventKind;

namespace {

class Rfc2217 : public ::testing::Test {
protected:
    void Open(sim::Rfc2217ServerOptions options = {}) {
        server = std::make_unique<sim::Rfc2217Server>(peer, options);
        std::string why;
        ASSERT_TRUE(server->Start(&why)) << why;
        platform::SerialError error;
        port = platform::OpenSerialDevice(server->Url(), &error);
        ASSERT_NE(port, nullptr) << error.description;
        ASSERT_TRUE(server->WaitForClient(3000ms));
    }
    platform::Rfc2217Client &Client() { return dynamic_cast<platform::Rfc2217Client &>(*port); }
    // Waits until the server's line matches the condition.
    template <typename Condition> bool LineBecomes(Condition condition) {
        return Eventually([&] { return condition(server->CurrentLine()); });
    }

    RecordingPeer peer;
    std::unique_ptr<sim::Rfc2217Server> server;
    std::unique_ptr<platform::SerialPort> port;
};

TEST_F(Rfc2217, ServerSeesTheLineExactlyAsConfigured) {
    Open();
    ASSERT_TRUE(
        port->Configure({115200, 2, platform::DTR_CONTROL_ENABLE, platform::RTS_CONTROL_DISABLE}));
    ASSERT_TRUE(LineBecomes([](const sim::LineState &l) { return l.baudRate == 115200 && l.dtr; }));
    auto line = server->CurrentLine();
    EXPECT_EQ(line.stopSize, 2u);
    EXPECT_EQ(line.dataSize, 8u);
    EXPECT_EQ(line.parity, 1u);
    EXPECT_EQ(line.flowControl, 1u);
    EXPECT_FALSE(line.rts);

    ASSERT_TRUE(port->Configure(
        {256000, 1, platform::DTR_CONTROL_DISABLE, platform::RTS_CONTROL_HANDSHAKE}));
    ASSERT_TRUE(
        LineBecomes([](const sim::LineState &l) { return l.baudRate == 256000 && !l.dtr; }));
    line = server->CurrentLine();
    EXPECT_EQ(line.stopSize, 3u) << "one and a half stop bits";
    EXPECT_EQ(line.flowControl, 3u) << "hardware handshake";

    EXPECT_TRUE(Eventually([&] { return Client().ReportedBaudRate() == 256000u; }));
    EXPECT_TRUE(Client().ComPortAccepted());
}

TEST_F(Rfc2217, DtrPulseIsRecordedInOrderWithTimeStamps) {
    Open();
    server->ClearLineEvents();
    for (int dtr : {1, 0, 1}) ASSERT_TRUE(port->Configure({9600, 0, dtr, 1}));
    std::vector<bool> levels;
    auto events =
        server->WaitForLineEvents(4, 3000ms); // RTS comes up once, DTR changes three times
    sim::SimClock::time_point last{};
    for (const auto &event : events) {
        EXPECT_GE(event.when, last);
        last = event.when;
        if (event.kind == LineEventKind::Dtr) levels.push_back(event.value != 0);
    }
    EXPECT_EQ(levels, (std::vector<bool>{true, false, true}));
}

TEST_F(Rfc2217, PeerGetsLineChangesBetweenTheBytesAroundThem) {
    Open();
    const uint8_t before[] = {1, 2}, after[] = {3};
    ASSERT_TRUE(port->Write(before, sizeof before));
    ASSERT_TRUE(port->Configure({57600, 0, 1, 1}));
    ASSERT_TRUE(port->Write(after, sizeof after));
    ASSERT_TRUE(peer.WaitForBytes(3));
    const auto items = peer.Items();
    size_t baudAt = items.size();
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i].isEvent && items[i].event.kind == LineEventKind::BaudRate &&
            items[i].event.value == 57600)
            baudAt = i;
    ASSERT_LT(baudAt, items.size());
    size_t bytesBefore = 0;
    for (size_t i = 0; i < baudAt; ++i) bytesBefore += items[i].isEvent ? 0 : 1;
    EXPECT_EQ(bytesBefore, 2u);
}

TEST_F(Rfc2217, DsrChangesReachTheClient) {
    Open();
    uint32_t status = 0;
    ASSERT_TRUE(Eventually([&] { return port->GetModemStatus(&status); }))
        << "the server reports its lines";
    EXPECT_EQ(status & platform::MS_DSR_ON, 0u);
    server->SetDsr(true);
    EXPECT_TRUE(Eventually(
        [&] { return port->GetModemStatus(&status) && (status & platform::MS_DSR_ON); }));
    server->SetDsr(false);
    EXPECT_TRUE(Eventually(
        [&] { return port->GetModemStatus(&status) && !(status & platform::MS_DSR_ON); }));
}

TEST_F(Rfc2217, IacBytesSurviveBothWays) {
    Open();
    const auto bytes = AllByteValues();
    ASSERT_TRUE(port->Write(bytes.data(), bytes.size()));
    ASSERT_TRUE(peer.WaitForBytes(bytes.size()));
    EXPECT_EQ(peer.Bytes(), bytes);
    peer.Link().SendToHost(bytes.data(), bytes.size());
    EXPECT_EQ(ReadFromPort(*port, bytes.size(), 3000ms), bytes);
    EXPECT_EQ(port->InputQueueCount(), 0);
}

TEST_F(Rfc2217, PurgeDropsWhatWaitsForTheReader) {
    Open();
    const uint8_t junk[] = {9, 9, 9};
    peer.Link().SendToHost(junk, sizeof junk);
    ASSERT_TRUE(Eventually([&] { return port->InputQueueCount() == 3; }));
    EXPECT_TRUE(port->PurgeInput());
    EXPECT_EQ(port->InputQueueCount(), 0);
    EXPECT_TRUE(port->DrainOutput());
    EXPECT_EQ(port->OutputQueueCount(), 0);
}

TEST_F(Rfc2217, ServerThatNeverAnswersDoesNotHoldTheClient) {
    Open({0, false, false});
    ASSERT_TRUE(port->Configure({38400, 0, 1, 1}));
    const uint8_t data[] = {0x7E, 0xFF};
    ASSERT_TRUE(port->Write(data, sizeof data));
    EXPECT_TRUE(peer.WaitForBytes(2));
    EXPECT_TRUE(LineBecomes([](const sim::LineState &l) { return l.baudRate == 38400; }));
    EXPECT_FALSE(Client().ReportedBaudRate().has_value());
    uint32_t status;
    EXPECT_FALSE(port->GetModemStatus(&status))
        << "no modem state reported: a port without modem lines";
}

// Accepts one connection and then neither reads nor writes: not even Telnet negotiation.
class MuteServer {
public:
    MuteServer() {
        listener_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(listener_.Get(), reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(listener_.Get(), 1);
        ::getsockname(listener_.Get(), reinterpret_cast<sockaddr *>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    std::string Url() const { return "rfc2217://localhost:" + std::to_string(port_); }

private:
    platform::UniqueFd listener_; // the kernel completes the connection from its backlog
    uint16_t port_ = 0;
};

TEST(Rfc2217Mute, OpenAndConfigureReturnWithoutAnyAnswer) {
    MuteServer mute;
    auto opening = std::async(std::launch::async, [&] {
        platform::SerialError error;
        auto port = platform::OpenSerialDevice(mute.Url(), &error);
        bool configured = port && port->Configure({9600, 0, 1, 1});
        const uint8_t byte = 0x55;
        return configured && port->Write(&byte, 1) && port->WaitReadable(0) == 0;
    });
    ASSERT_EQ(opening.wait_for(10s), std::future_status::ready)
        << "the client waited for an answer";
    EXPECT_TRUE(opening.get());
}

TEST_F(Rfc2217, ServerClosingIsAFailureAfterTheLastBytes) {
    Open();
    const uint8_t last[] = {1, 2};
    peer.Link().SendToHost(last, sizeof last);
    ASSERT_TRUE(Eventually([&] { return port->InputQueueCount() == 2; }));
    peer.Link().Disconnect();
    ASSERT_TRUE(Eventually([&] { return !server->ClientConnected(); }));
    EXPECT_EQ(ReadFromPort(*port, 2, 3000ms), std::vector<uint8_t>(last, last + 2));
    EXPECT_EQ(port->WaitReadable(3000), -1);
    uint8_t byte;
    EXPECT_EQ(port->ReadNow(&byte, 1), -1);
}

TEST_F(Rfc2217, WakeEndsAWait) {
    Open();
    auto waiting = std::async(std::launch::async, [&] { return port->WaitReadable(-1); });
    std::this_thread::sleep_for(50ms);
    port->Wake();
    ASSERT_EQ(waiting.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(waiting.get(), 0);
}

// A reader thread and a writer thread on one port while the server toggles DSR: everything
// written arrives, everything sent comes back, in order (and ThreadSanitizer watches).
TEST_F(Rfc2217, ReaderAndWriterThreadsShareThePort) {
    Open();
    constexpr size_t Count = 20000;
    std::vector<uint8_t> pattern(Count);
    for (size_t i = 0; i < Count; ++i) pattern[i] = uint8_t(i * 7);
    auto reading = std::async(std::launch::async, [&] { return ReadFromPort(*port, Count, 10s); });
    for (size_t i = 0; i < Count; i += 1000) {
        ASSERT_TRUE(port->Write(pattern.data() + i, 1000));
        uint32_t status;
        port->GetModemStatus(&status);
        server->SetDsr(i % 2000 == 0);
    }
    ASSERT_TRUE(peer.WaitForBytes(Count, 10s));
    peer.Link().SendToHost(pattern.data(), pattern.size());
    EXPECT_EQ(reading.get(), pattern);
    EXPECT_EQ(peer.Bytes(), pattern);
}

TEST(Rfc2217Address, AcceptsDottedAndLocalhostOnly) {
    uint32_t host = 0;
    uint16_t port = 0;
    ASSERT_TRUE(platform::ParseRfc2217Url("rfc2217://192.168.1.20:4000", &host, &port));
    EXPECT_EQ(host, 0xC0A80114u);
    EXPECT_EQ(port, 4000);
    ASSERT_TRUE(platform::ParseRfc2217Url("rfc2217://localhost:1", &host, &port));
    EXPECT_EQ(host, 0x7F000001u);
    for (const char *bad :
         {"rfc2217://127.0.0.1", "rfc2217://127.0.0.1:0", "rfc2217://127.0.0.1:65536",
          "rfc2217://127.0.0.1:40a", "rfc2217://board.example:4000", "rfc2217://:4000",
          "tcp://127.0.0.1:4000", "rfc2217://1.2.3:4000"})
        EXPECT_FALSE(platform::ParseRfc2217Url(bad, &host, &port)) << bad;
}

TEST(Rfc2217Address, ReportsRefusedConnections) {
    platform::SerialError error;
    const std::string url = "rfc2217://127.0.0.1:" + std::to_string(FreeLoopbackPort());
    EXPECT_EQ(platform::OpenSerialDevice(url, &error), nullptr);
    EXPECT_EQ(error.code, ECONNREFUSED);
    EXPECT_NE(error.description.find("listening"), std::string::npos) << error.description;
    EXPECT_EQ(platform::OpenSerialDevice("rfc2217://nowhere", &error), nullptr);
    EXPECT_EQ(error.code, EINVAL);
}

} // namespace
