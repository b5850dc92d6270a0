// A 1 MiB image as SYS/WRITE frames of 128 bytes through the CorvixLink connection to the
// simulated device on loopback (windowed: everything sent, then the acknowledgements counted),
// against a bare TCP transfer of the same frame bytes on loopback with a plain reader on the far
// side. The ratio is what the connection, its reader thread, the hand-over of every
// acknowledgement to the user-interface thread and the device's flash model cost over the wire.
#include "FrameCodec.h"
#include "LinkDevice.h"
#include "LinkFrameCodec.h"

#include "comm/DeviceAuthentication.h"
#include "comm/TCorvixLinkConnection.h"
#include "platform/Messages.h"
#include "platform/Socket.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using namespace platform;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t ImageSize = 1 << 20;
constexpr size_t Block = 128;
constexpr int Rounds = 3;

LRESULT QuietProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

std::vector<uint8_t> WritePayload(uint32_t address, const uint8_t *data, size_t count) {
    std::vector<uint8_t> payload{0,
                                 uint8_t(count),
                                 uint8_t(count >> 8),
                                 uint8_t(address),
                                 uint8_t(address >> 8),
                                 uint8_t(address >> 16),
                                 uint8_t(address >> 24)};
    payload.insert(payload.end(), data, data + count);
    return payload;
}

void CountAck(const uint8_t *, uint16_t, void *context) { ++*static_cast<int *>(context); }

// Seconds for one windowed download through the product's connection; -1 on failure.
double ThroughLink(const std::vector<uint8_t> &image) {
    sim::LinkDevice device;
    if (!device.Start()) return -1;
    HWND window = CreateWindow(&QuietProc);
    double seconds = -1;
    {
        TCorvixLinkConnection link(window);
        CommOptions options;
        SetField(options.CorvixLinkAddress, "127.0.0.1");
        options.CorvixLinkTcpPort = device.Port();
        options.EthernetResponseTimeout = 5000;
        link.SetSettings(options);
        DeviceAuthentication auth;
        auth.connection = &link;
        link.RegisterHandler(1, DbgChallenge, &DeviceAuthenticationHandler, &auth, true, false);
        link.Connect(1);
        link.SendAndWait(1, DbgChallenge, nullptr, 0, true);
        int acks = 0;
        link.RegisterHandler(0, 3, &CountAck, &acks, false, false);
        const int total = int((image.size() + Block - 1) / Block);
        const auto start = Clock::now();
        for (size_t offset = 0; offset < image.size(); offset += Block) {
            auto payload = WritePayload(uint32_t(offset), image.data() + offset,
                                        std::min(Block, image.size() - offset));
            link.Send(0, 3, payload.data(), uint32_t(payload.size()));
        }
        const auto limit = Clock::now() + std::chrono::seconds(60);
        while (acks < total && Clock::now() < limit) {
            MSG msg;
            if (GetMessage(&msg, window, 0, 0)) DispatchMessage(&msg);
        }
        if (acks == total) seconds = std::chrono::duration<double>(Clock::now() - start).count();
        link.Close();
    }
    DestroyWindow(window);
    return seconds;
}

// Seconds for the same frame bytes written to a plain reader on loopback.
double BareTcp(const std::vector<uint8_t> &image) {
    std::vector<uint8_t> wire;
    for (size_t offset = 0; offset < image.size(); offset += Block) {
        auto frame =
            sim::EncodeLinkFrame(sim::Frame{0, 3,
                                            WritePayload(uint32_t(offset), image.data() + offset,
                                                         std::min(Block, image.size() - offset))});
        wire.insert(wire.end(), frame.begin(), frame.end());
    }
    Socket listener = Socket::Tcp();
    listener.Bind(Ipv4Loopback(), 0);
    listener.Listen(1);
    Socket client = Socket::Tcp();
    if (client.Connect(Ipv4Loopback(), listener.LocalPort()) != 0) return -1;
    Socket server = listener.Accept();
    size_t received = 0;
    const auto start = Clock::now();
    std::thread reader([&] {
        uint8_t buffer[16384];
        while (received < wire.size()) {
            const IoResult got = server.Recv(buffer, sizeof buffer);
            if (got.error || got.count == 0) return;
            received += size_t(got.count);
        }
    });
    // One send per frame, as the connection does it.
    for (size_t offset = 0; offset < wire.size(); offset += 10 + 7 + Block)
        client.SendAll(wire.data() + offset,
                       std::min<size_t>(10 + 7 + Block, wire.size() - offset));
    reader.join();
    return received == wire.size() ? std::chrono::duration<double>(Clock::now() - start).count()
                                   : -1;
}

} // namespace

int main() {
    std::vector<uint8_t> image(ImageSize);
    for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i * 131 + 17);
    double link = 1e9, bare = 1e9;
    for (int round = 0; round < Rounds; ++round) {
        const double l = ThroughLink(image), b = BareTcp(image);
        if (l < 0 || b < 0) {
            std::fprintf(stderr, "LinkLoad: a transfer failed\n");
            return 1;
        }
        link = std::min(link, l);
        bare = std::min(bare, b);
    }
    std::printf("LinkLoad: 1 MiB as %zu SYS/WRITE frames (best of %d)\n", ImageSize / Block,
                Rounds);
    std::printf("  through TCorvixLinkConnection to corvix-sim, windowed: %.1f ms (%.1f MiB/s)\n",
                link * 1e3, 1 / link);
    std::printf("  bare TCP, same frame bytes:                          %.1f ms (%.1f MiB/s)\n",
                bare * 1e3, 1 / bare);
    std::printf("  ratio link / bare: %.1f\n", link / bare);
    return 0;
}
