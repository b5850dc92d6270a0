// SYS/WRITE with 128 data bytes and its ACK, through the reader thread, the user-interface
// thread's wait and back, over an unpaced pseudo-terminal and over RFC 2217 on loopback (corvix-sim
// in-process); against a bare write and read of the same bytes over the same transport with the
// same answering peer.
#include "BenchResult.h"

#include "comm/PacketCodec.h"
#include "comm/TSerialConnection.h"
#include "platform/Messages.h"
#include "platform/Serial.h"

#include "PacketPeer.h"
#include "Rfc2217Server.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Packets = 2000;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class Pty {
public:
    Pty() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128];
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
            ::ptsname_r(master_, name, sizeof name) != 0)
            throw std::runtime_error("no pseudo-terminal");
        slave_ = name;
    }
    ~Pty() { ::close(master_); }
    int Master() const { return master_; }
    const std::string &Slave() const { return slave_; }

private:
    int master_;
    std::string slave_;
};

// The board side: answers every frame with an ACK of its code and no payload.
class AckPeer {
public:
    explicit AckPeer(int fd) : fd_(fd), thread_([this] { Run(); }) {}
    ~AckPeer() {
        stop_ = true;
        thread_.join();
    }

private:
    void Run() {
        packet::FrameScanner scanner;
        uint8_t buffer[4096];
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0) continue;
            for (size_t at = 0; at < static_cast<size_t>(n);) {
                size_t used = 0;
                packet::DecodedFrame frame;
                const bool got =
                    scanner.Feed(buffer + at, static_cast<size_t>(n) - at, &used, &frame);
                at += used;
                if (!got) continue;
                const auto ack = packet::MakeFrame(
                    frame.type,
                    static_cast<uint8_t>(packet::AckBit | (frame.subtype & packet::CodeMask)),
                    nullptr, 0);
                for (size_t done = 0; done < ack.size();) {
                    const ssize_t w = ::write(fd_, ack.data() + done, ack.size() - done);
                    if (w > 0) done += static_cast<size_t>(w);
                }
            }
        }
    }
    int fd_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class TPtySerialConnection : public TSerialConnection {
public:
    TPtySerialConnection(platform::HWND window, std::string device)
        : TSerialConnection(window), device_(std::move(device)) {}
    ~TPtySerialConnection() override { StopReader(); }

protected:
    std::unique_ptr<platform::SerialPort> OpenPort(int32_t, platform::SerialError *error) override {
        return platform::OpenSerialDevice(device_, error);
    }

private:
    std::string device_;
};

std::vector<uint8_t> WritePayload() {
    std::vector<uint8_t> payload(7 + 128);
    packet::StoreLe16(payload.data() + 1, 128);
    packet::StoreLe32(payload.data() + 3, 0x80000);
    for (size_t i = 7; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 13);
    return payload;
}

CommOptions Options() {
    CommOptions options;
    options.BaudRate = 115200;
    options.DtrControl = 1;
    options.RtsControl = 1;
    options.SerialResponseTimeout = 2000;
    options.SerialRetryCount = 0;
    return options;
}

double ThroughConnection(const std::string &device, platform::HWND window) {
    TPtySerialConnection conn(window, device);
    conn.SetSettings(Options());
    conn.Open(ConnMode::Packet);
    conn.RegisterHandler(0, 3, nullptr, nullptr, true, true);
    std::vector<uint8_t> payload = WritePayload();
    std::vector<uint8_t> request = payload;
    const auto start = Clock::now();
    for (int i = 0; i < Packets; ++i) {
        request = payload; // the ACK's (empty) reply goes into the request buffer
        conn.Send(0, 3, request.data(), static_cast<uint32_t>(request.size()));
    }
    return Seconds(start);
}

double BareEcho(const std::string &device) {
    platform::SerialError error;
    auto port = platform::OpenSerialDevice(device, &error);
    platform::SerialSettings settings;
    settings.baudRate = 115200;
    if (!port || !port->Configure(settings))
        throw std::runtime_error("cannot open the pseudo-terminal");
    const std::vector<uint8_t> payload = WritePayload();
    const auto frame = packet::MakeFrame(0, 3, payload.data(), payload.size());
    const size_t ackSize = packet::MakeFrame(0, 0x83, nullptr, 0).size();
    std::vector<uint8_t> ack(ackSize);
    const auto start = Clock::now();
    for (int i = 0; i < Packets; ++i) {
        // A serial write is complete when its bytes are on the wire; the connection waits for
        // that too, so the bare loop does the same.
        port->Write(frame.data(), frame.size());
        port->DrainOutput();
        for (size_t got = 0; got < ackSize;) {
            port->WaitReadable(2000);
            const long n = port->ReadNow(ack.data() + got, ackSize - got);
            if (n < 0) throw std::runtime_error("read failed");
            got += static_cast<size_t>(n);
        }
    }
    return Seconds(start);
}

// goal: the RESULT line's goal for the ratio ("-" for none).
void Report(const char *transport, double connection, double bare, const char *goal) {
    std::printf(
        "%s: SYS/WRITE 128 data bytes + ACK through reader thread and UI wait: %.0f packets/s\n",
        transport, Packets / connection);
    std::printf(
        "%s: bare write/read of the same frame and ACK:                       %.0f round trips/s\n",
        transport, Packets / bare);
    std::printf("%s: round-trip time ratio, connection / bare: %.3f\n", transport,
                connection / bare);
    bench::PrintResult(std::string("roundtrip.") + transport + ".ratio", connection / bare, goal,
                       std::string("packet round trip over ") + transport +
                           " (unpaced) / bare write and read with the same peer");
}

} // namespace

int main() {
    platform::HWND window =
        platform::CreateWindow([](platform::HWND, platform::UINT, platform::WPARAM,
                                  platform::LPARAM) -> platform::LRESULT { return 0; });
    try {
        Pty pty;
        AckPeer peer(pty.Master());
        const double bare = BareEcho(pty.Slave());
        const double connection = ThroughConnection(pty.Slave(), window);
        Report("pty", connection, bare, "<=1.05");
    } catch (const std::exception &error) {
        std::printf("pty round trip failed: %s\n", error.what());
        return 1;
    }
    try {
        sim::PacketPeer peer;
        peer.SetRule({0, 3, sim::ReplyKind::Ack, {}});
        sim::Rfc2217Server server(peer);
        if (!server.Start()) throw std::runtime_error("corvix-sim's RFC 2217 server did not start");
        const double bare = BareEcho(server.Url());
        const double connection = ThroughConnection(server.Url(), window);
        Report("rfc2217", connection, bare, "-");
    } catch (const std::exception &error) {
        std::printf("rfc2217 round trip failed: %s\n", error.what());
        return 1;
    }
    platform::DestroyWindow(window);
    return 0;
}
