// The RFC 2217 client's side of the Telnet stream, on its own reader thread: the options it
// answers, the Com Port Control answers it reads (modem state, the rate the server applied) and
// the data it buffers for the serial layer. The input is everything the server sends before it
// closes; the client must hand over exactly the data a Telnet decoder finds in it.
#include "FuzzSupport.h"

#include "platform/Rfc2217Client.h"
#include "platform/Telnet.h"
#include "platform/Socket.h"

using namespace platform;

namespace {

// Longer server streams add nothing but time: the answers are a few bytes each.
constexpr size_t MaxScript = 32768;
constexpr int DrainRounds = 200;
constexpr int DrainWaitMs = 10;

class DataOnly final : public telnet::TelnetSink {
public:
    std::vector<uint8_t> data;
    void OnData(const uint8_t *bytes, size_t count) override {
        data.insert(data.end(), bytes, bytes + count);
    }
    void OnNegotiation(uint8_t, uint8_t) override {}
    void OnSubnegotiation(uint8_t, const uint8_t *, size_t) override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    size = std::min(size, MaxScript);
    // A connected pair on loopback, the server's end ours to play. The listener lives for the
    // whole run: one port, taken once.
    static Socket listener = [] {
        Socket socket = Socket::Tcp();
        if (socket.Bind(Ipv4Loopback(), 0) != 0 || socket.Listen(4) != 0)
            fuzz::Fail("no listener on 127.0.0.1");
        return socket;
    }();
    Socket ours = Socket::Tcp();
    if (ours.Connect(Ipv4Loopback(), listener.LocalPort()) != 0) fuzz::Fail("no connection");
    Socket server = listener.Accept();
    // The whole script fits the connection's buffers, so it goes before the client starts
    // reading.
    if (size > 0 && server.SendAll(data, size) != 0)
        fuzz::Fail("the connection did not take the script");
    server.Shutdown(ShutdownHow::Send);
    ours.SetBlocking(false);

    SerialError error;
    std::unique_ptr<Rfc2217Client> client =
        Rfc2217Client::Attach("rfc2217://fuzz", std::move(ours), &error);
    if (!client) return 0;

    std::vector<uint8_t> received;
    uint8_t buffer[1024];
    for (int round = 0; round < DrainRounds; ++round) {
        const long n = client->ReadNow(buffer, sizeof buffer);
        if (n < 0) break; // the stream ended and everything was read
        if (n == 0) client->WaitReadable(DrainWaitMs);
        received.insert(received.end(), buffer, buffer + n);
    }
    DataOnly expected;
    telnet::TelnetDecoder decoder;
    decoder.Feed(data, size, expected);
    fuzz::Check(received == expected.data, "the client's data differs from the stream's data");

    uint32_t status = 0;
    if (client->GetModemStatus(&status))
        fuzz::Check((status & ~uint32_t(MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON)) == 0,
                    "modem status bits outside the four lines");
    (void)client->ReportedBaudRate();
    (void)client->ComPortAccepted();
    return 0;
}
