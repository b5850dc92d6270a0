// corvix-sim's RFC 2217 server spoken to byte by byte, as a client we did not write might: the
// answers carry the applied value, malformed commands change nothing, and the modem-state mask
// decides what is reported.
#include "PacketPeer.h"
#include "Rfc2217Server.h"

#include "platform/Rfc2217.h"
#include "platform/Telnet.h"
#include "platform/posix/SerialFd.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
namespace rfc = platform::rfc2217;
namespace telnet = platform::telnet;

class RawClient final : telnet::TelnetSink {
public:
    explicit RawClient(uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ =
            ::connect(fd_.Get(), reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    }
    bool Connected() const { return connected_; }
    void Send(const Bytes &bytes) {
        ASSERT_EQ(::send(fd_.Get(), bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
    }
    void Command(uint8_t command, const Bytes &value) {
        Bytes body{command};
        body.insert(body.end(), value.begin(), value.end());
        Bytes out;
        telnet::AppendSubnegotiation(out, telnet::OptionComPort, body.data(), body.size());
        Send(out);
    }
    // Reads until count COM-PORT answers have come, or the time is up.
    const std::vector<Bytes> &Answers(size_t count, std::chrono::milliseconds timeout = 3000ms) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (answers_.size() < count && std::chrono::steady_clock::now() < deadline) ReadFor(20);
        return answers_;
    }
    Bytes Data() const { return data_; }
    std::vector<std::pair<uint8_t, uint8_t>> negotiations;

private:
    void ReadFor(int ms) {
        pollfd pfd{fd_.Get(), POLLIN, 0};
        if (::poll(&pfd, 1, ms) <= 0) return;
        uint8_t chunk[1024];
        ssize_t n = ::recv(fd_.Get(), chunk, sizeof chunk, 0);
        if (n > 0) decoder_.Feed(chunk, size_t(n), *this);
    }
    void OnData(const uint8_t *d, size_t n) override { data_.insert(data_.end(), d, d + n); }
    void OnNegotiation(uint8_t verb, uint8_t option) override {
        negotiations.push_back({verb, option});
    }
    void OnSubnegotiation(uint8_t option, const uint8_t *v, size_t n) override {
        if (option == telnet::OptionComPort) answers_.emplace_back(v, v + n);
    }

    platform::UniqueFd fd_;
    bool connected_ = false;
    telnet::TelnetDecoder decoder_;
    std::vector<Bytes> answers_;
    Bytes data_;
};

class ServerProtocol : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Start());
        client = std::make_unique<RawClient>(server.Port());
        ASSERT_TRUE(client->Connected());
        client->Send({0xFF, telnet::Will, telnet::OptionComPort});
        // Agreeing to the option, the server reports the lines once, with the initial full mask.
        const auto &answers = client->Answers(1);
        ASSERT_EQ(answers.size(), 1u);
        EXPECT_EQ(answers[0], (Bytes{rfc::ServerOffset + rfc::NotifyModemState, 0x00}));
    }
    sim::PacketPeer peer;
    sim::Rfc2217Server server{peer};
    std::unique_ptr<RawClient> client;
};

TEST_F(ServerProtocol, AnswersWithTheAppliedValue) {
    EXPECT_EQ(client->negotiations.at(0),
              (std::pair<uint8_t, uint8_t>{telnet::Do, telnet::OptionComPort}));
    client->Command(rfc::SetBaudRate, {0x00, 0x01, 0xFF, 0xFF}); // 131071: IAC bytes in the value
    client->Command(rfc::SetBaudRate, {0, 0, 0, 0});             // asks
    client->Command(rfc::SetDataSize, {9});                      // impossible: stays 8
    client->Command(rfc::SetStopSize, {rfc::StopOneAndHalf});
    client->Command(rfc::SetControl, {rfc::ControlDtrOn});
    client->Command(rfc::SetControl, {rfc::ControlAskDtr});
    client->Command(rfc::Signature, {});
    const auto &answers = client->Answers(8);
    ASSERT_EQ(answers.size(), 8u);
    EXPECT_EQ(answers[1], (Bytes{101, 0x00, 0x01, 0xFF, 0xFF}));
    EXPECT_EQ(answers[2], (Bytes{101, 0x00, 0x01, 0xFF, 0xFF}));
    EXPECT_EQ(answers[3], (Bytes{102, 8}));
    EXPECT_EQ(answers[4], (Bytes{104, rfc::StopOneAndHalf}));
    EXPECT_EQ(answers[5], (Bytes{105, rfc::ControlDtrOn}));
    EXPECT_EQ(answers[6], (Bytes{105, rfc::ControlDtrOn}));
    EXPECT_EQ(std::string(answers[7].begin() + 1, answers[7].end()), "corvix-sim");

    const auto line = server.CurrentLine();
    EXPECT_EQ(line.baudRate, 131071u);
    EXPECT_EQ(line.dataSize, 8u);
    EXPECT_EQ(line.stopSize, 3u);
    EXPECT_TRUE(line.dtr);
    EXPECT_EQ(server.LineEvents().size(), 3u)
        << "rate, stop size and DTR changed; the rest did not";
}

TEST_F(ServerProtocol, IgnoresCommandsOfTheWrongLength) {
    client->Command(rfc::SetBaudRate, {0x00, 0x01, 0x00});
    client->Command(rfc::SetControl, {});
    client->Command(rfc::PurgeData, {7});
    client->Command(rfc::SetParity, {rfc::ParityNone}); // a good one to know the others were read
    const auto &answers = client->Answers(2);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[1], (Bytes{103, rfc::ParityNone}));
    EXPECT_EQ(server.CurrentLine().baudRate, 9600u);
    EXPECT_TRUE(server.LineEvents().empty());
}

TEST_F(ServerProtocol, ReportsOnlyTheLinesInTheMask) {
    client->Command(rfc::SetModemStateMask, {rfc::ModemCts}); // not DSR
    ASSERT_EQ(client->Answers(3).size(), 3u); // the mask echo and the state under it
    server.SetDsr(true);
    client->Command(rfc::SetParity, {rfc::ParityNone}); // a marker after the DSR change
    auto answers = client->Answers(4);
    ASSERT_EQ(answers.size(), 4u);
    EXPECT_EQ(answers[3][0], 103) << "no modem report for DSR outside the mask";

    client->Command(rfc::SetModemStateMask, {rfc::ModemDsr | rfc::ModemDeltaDsr});
    answers = client->Answers(6);
    ASSERT_EQ(answers.size(), 6u);
    EXPECT_EQ(answers[5], (Bytes{107, rfc::ModemDsr}));
    server.SetDsr(false);
    answers = client->Answers(7);
    ASSERT_EQ(answers.size(), 7u);
    EXPECT_EQ(answers[6], (Bytes{107, rfc::ModemDeltaDsr}));
}

TEST_F(ServerProtocol, PurgeDropsBytesStillOnTheirWay) {
    sim::PacketPeer paced;
    sim::Rfc2217Server slow(paced, {0, true, true});
    ASSERT_TRUE(slow.Start());
    RawClient host(slow.Port());
    ASSERT_TRUE(host.Connected());
    host.Send({0xFF, telnet::Will, telnet::OptionComPort});
    host.Command(rfc::SetBaudRate, {0, 0, 0x01, 0x2C}); // 300 baud: 33 ms a byte
    ASSERT_EQ(host.Answers(2).size(), 2u);
    Bytes board(60, 0x55);
    slow.Link().SendToHost(board.data(), board.size());
    host.Command(rfc::PurgeData, {rfc::PurgeReceive});
    ASSERT_EQ(host.Answers(3).size(), 3u);
    EXPECT_LT(host.Data().size(), board.size()) << "two seconds of bytes cannot all be out yet";
}

} // namespace
