// The Telnet layer shared by the RFC 2217 client and server: escaping, a decoder fed in any
// pieces, and negotiation that settles without loops.
#include "platform/Telnet.h"

#include <gtest/gtest.h>

namespace telnet = platform::telnet;

namespace {

using Bytes = std::vector<uint8_t>;

struct Recorder final : telnet::TelnetSink {
    void OnData(const uint8_t *d, size_t n) override { data.insert(data.end(), d, d + n); }
    void OnNegotiation(uint8_t verb, uint8_t option) override {
        negotiations.push_back({verb, option});
    }
    void OnSubnegotiation(uint8_t option, const uint8_t *v, size_t n) override {
        subnegotiations.push_back(Bytes{option});
        subnegotiations.back().insert(subnegotiations.back().end(), v, v + n);
    }
    Bytes data;
    std::vector<std::pair<uint8_t, uint8_t>> negotiations;
    std::vector<Bytes> subnegotiations;
};

TEST(SerialTelnet, EscapesIacInDataAndSubnegotiations) {
    Bytes out;
    const uint8_t data[] = {1, 0xFF, 2};
    telnet::AppendData(out, data, sizeof data);
    EXPECT_EQ(out, (Bytes{1, 0xFF, 0xFF, 2}));
    out.clear();
    const uint8_t rate[] = {1, 0x00, 0x01, 0xFF, 0xFF};
    telnet::AppendSubnegotiation(out, 44, rate, sizeof rate);
    EXPECT_EQ(out, (Bytes{0xFF, 0xFA, 44, 1, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0}));
}

TEST(SerialTelnet, DecodesTheSameWhateverThePieces) {
    Bytes stream{'a', 0xFF, 0xFF, 'b', 0xFF, 0xFB, 44, 0xFF, 0xF1 /* NOP */, 'c'};
    const Bytes rate{1, 0x00, 0x01, 0xFF, 0xFF};
    telnet::AppendSubnegotiation(stream, 44, rate.data(), rate.size());
    stream.push_back('d');

    for (size_t piece : {stream.size(), size_t(1), size_t(2), size_t(3)}) {
        telnet::TelnetDecoder decoder;
        Recorder sink;
        for (size_t at = 0; at < stream.size(); at += piece)
            decoder.Feed(stream.data() + at, std::min(piece, stream.size() - at), sink);
        EXPECT_EQ(sink.data, (Bytes{'a', 0xFF, 'b', 'c', 'd'})) << "pieces of " << piece;
        ASSERT_EQ(sink.negotiations.size(), 1u);
        EXPECT_EQ(sink.negotiations[0], (std::pair<uint8_t, uint8_t>{telnet::Will, 44}));
        ASSERT_EQ(sink.subnegotiations.size(), 1u);
        EXPECT_EQ(sink.subnegotiations[0], (Bytes{44, 1, 0x00, 0x01, 0xFF, 0xFF}));
    }
}

TEST(SerialTelnet, DropsOversizedAndBrokenSubnegotiations) {
    telnet::TelnetDecoder decoder;
    Recorder sink;
    Bytes huge(telnet::TelnetDecoder::MaxSubnegotiation + 1, 7);
    Bytes stream;
    telnet::AppendSubnegotiation(stream, 44, huge.data(), huge.size());
    stream.insert(stream.end(), {0xFF, 0xFA, 44, 1, 2, 0xFF, 0xFD, 0}); // cut off by a DO BINARY
    stream.push_back('x');
    decoder.Feed(stream.data(), stream.size(), sink);
    EXPECT_TRUE(sink.subnegotiations.empty());
    EXPECT_EQ(decoder.DroppedSubnegotiations(), 2u);
    ASSERT_EQ(sink.negotiations.size(), 1u);
    EXPECT_EQ(sink.negotiations[0].first, telnet::Do);
    EXPECT_EQ(sink.data, Bytes{'x'});
}

// Runs two ends against each other until neither has anything to say; bounded.
int Settle(telnet::TelnetOptions &a, telnet::TelnetOptions &b, Bytes aToB) {
    int rounds = 0;
    Bytes bToA;
    for (; rounds < 20 && !(aToB.empty() && bToA.empty()); ++rounds) {
        Bytes nextAToB, nextBToA;
        // Every message here is IAC verb option.
        for (size_t i = 0; i + 3 <= aToB.size(); i += 3)
            b.Receive(aToB[i + 1], aToB[i + 2], nextBToA);
        for (size_t i = 0; i + 3 <= bToA.size(); i += 3)
            a.Receive(bToA[i + 1], bToA[i + 2], nextAToB);
        aToB = nextAToB;
        bToA = nextBToA;
    }
    return rounds;
}

TEST(SerialTelnet, NegotiationSettlesWithoutLoops) {
    telnet::TelnetOptions client, server;
    client.Support(telnet::OptionBinary, true, true);
    client.Support(telnet::OptionComPort, true, false);
    server.Support(telnet::OptionBinary, true, true);
    server.Support(telnet::OptionComPort, false, true);
    Bytes opening;
    client.RequestLocal(telnet::OptionBinary, opening);
    client.RequestRemote(telnet::OptionBinary, opening);
    client.RequestLocal(telnet::OptionComPort, opening);
    client.RequestLocal(telnet::OptionComPort, opening); // asking twice sends nothing more
    EXPECT_EQ(opening.size(), 9u);
    EXPECT_LT(Settle(client, server, opening), 20);
    EXPECT_TRUE(client.LocalEnabled(telnet::OptionComPort));
    EXPECT_TRUE(server.RemoteEnabled(telnet::OptionComPort));
    EXPECT_TRUE(client.LocalEnabled(telnet::OptionBinary));
    EXPECT_TRUE(client.RemoteEnabled(telnet::OptionBinary));
    EXPECT_TRUE(server.LocalEnabled(telnet::OptionBinary));
}

TEST(SerialTelnet, RefusesWhatItDoesNotSupportAndAcknowledgesSwitchOff) {
    telnet::TelnetOptions options;
    options.Support(telnet::OptionBinary, true, true);
    Bytes out;
    options.Receive(telnet::Will, telnet::OptionEcho, out);
    EXPECT_EQ(out, (Bytes{0xFF, telnet::Dont, telnet::OptionEcho}));
    out.clear();
    options.Receive(telnet::Wont, telnet::OptionEcho, out); // already off: no answer
    EXPECT_TRUE(out.empty());
    options.Receive(telnet::Do, telnet::OptionBinary, out);
    EXPECT_EQ(out, (Bytes{0xFF, telnet::Will, telnet::OptionBinary}));
    out.clear();
    options.Receive(telnet::Dont, telnet::OptionBinary, out);
    EXPECT_EQ(out, (Bytes{0xFF, telnet::Wont, telnet::OptionBinary}));
    EXPECT_FALSE(options.LocalEnabled(telnet::OptionBinary));

    telnet::TelnetOptions asking;
    out.clear();
    asking.RequestLocal(telnet::OptionComPort, out);
    EXPECT_FALSE(asking.LocalAnswered(telnet::OptionComPort));
    out.clear();
    asking.Receive(telnet::Dont, telnet::OptionComPort, out); // refused: settled, nothing to say
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(asking.LocalAnswered(telnet::OptionComPort));
    EXPECT_FALSE(asking.LocalEnabled(telnet::OptionComPort));
}

} // namespace
