// A 1 MiB image as SYS/WRITE frames of 128 bytes through the CorvixLink connection to the
// simulated device on loopback (windowed: everything sent, then the acknowledgements counted),
// against a bare TCP transfer of the same frame bytes on loopback with a plain reader on the far
// side. The ratio is what the connection, its reader thread, the hand-over of every
// acknowledgement to the user-interface thread and the device's flash model cost over the wire.
#include "BenchFiles.h"
#include "BenchResult.h"
#include "QuietDisplay.h"
#include "SimProcess.h"
#include "WatchEngine.h"
#include "WritePayload.h"

#include "FrameCodec.h"
#include "LinkDevice.h"
#include "LinkFrameCodec.h"

#include "comm/DeviceAuthentication.h"
#include "comm/PacketCodec.h"
#include "comm/TCorvixLinkConnection.h"
#include "load/LoadSession.h"
#include "loader/LoaderEngineApi.h"
#include "platform/Messages.h"
#include "platform/Socket.h"
#include "settings/Zepenvironment.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace platform;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t ImageSize = 1 << 20;
constexpr size_t Block = 128;
constexpr int Rounds = 3;

void CountAck(const uint8_t *, uint16_t, void *context) { ++*static_cast<int *>(context); }

// Seconds for one windowed download through the product's connection; -1 on failure.
double ThroughLink(const std::vector<uint8_t> &image) {
    sim::LinkDevice device;
    if (!device.Start()) return -1;
    HWND window = CreateWindow(&QuietDisplay::QuietProc);
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
        // The payloads are made before the clock starts, as the baseline's frames are.
        std::vector<std::vector<uint8_t>> payloads;
        for (size_t offset = 0; offset < image.size(); offset += Block)
            payloads.push_back(bench::WritePayload(uint32_t(offset), image.data() + offset,
                                                   std::min(Block, image.size() - offset)));
        const auto start = Clock::now();
        for (std::vector<uint8_t> &payload : payloads)
            link.Send(0, 3, payload.data(), uint32_t(payload.size()));
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
        auto frame = sim::EncodeLinkFrame(
            sim::Frame{0, 3,
                       bench::WritePayload(uint32_t(offset), image.data() + offset,
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

// Heap allocations per SYS/WRITE packet while the first `bytes` of the image go through a whole
// load session to corvix-sim's network device, run as a process of its own (its allocations are
// not ours); -1 on failure.
double AllocationsPerPacket(const std::filesystem::path &dir, const std::vector<uint8_t> &image,
                            size_t bytes) {
    const std::filesystem::path imagePath = dir / "part.bin", flash = dir / "flash.bin";
    bench::WriteFile(imagePath, image.data(), bytes);
    bench::SimProcess device({"link", "--port", "0", "--flash-out", flash.string()});
    if (device.Address().empty()) return -1;
    const std::filesystem::path samples = std::filesystem::path(TARNWICK_SOURCE_DIR) / "samples";
    Environment env;
    env.ColdLoaderFile = (samples / "coldload.bin").string();
    env.PilotBiosFile = (samples / "pilot.bin").string();
    env.FlashTableFile = (samples / "Flash.ini").string();
    env.Comm.UseTCP = 1;
    env.Comm.UseCorvixLink = 1;
    env.Comm.UseCorvixSys = 0;
    SetField(env.Comm.CorvixLinkAddress, "127.0.0.1");
    env.Comm.CorvixLinkTcpPort = device.Port();
    env.Comm.EthernetResponseTimeout = 5000;
    HWND window = CreateWindow(&QuietDisplay::QuietProc);
    QuietDisplay display(window);
    WatchEngine engine(TheLoaderEngine());
    LoadSession session(imagePath.string(), env, engine, display,
                        [] { return std::array<uint8_t, 16>{}; });
    session.RunLoad();
    DestroyWindow(window);
    device.Stop(); // it writes its flash as it ends
    if (session.Result != 0 || !bench::FileStartsWith(flash, image.data(), bytes)) return -1;
    return engine.AllocationsPerPacket();
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

    // A private registry and folder for the whole sessions; the board's flash window holds
    // 512 KiB, so that is the larger load.
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("tarnwick-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    ::setenv("TARNWICK_REGISTRY", (dir / "registry.reg").c_str(), 1);
    const double small = AllocationsPerPacket(dir, image, 64 * 1024);
    const double large = AllocationsPerPacket(dir, image, 512 * 1024);
    std::filesystem::remove_all(dir);
    if (small < 0 || large < 0) {
        std::fprintf(stderr, "LinkLoad: a load session failed\n");
        return 1;
    }
    std::printf("  heap allocations per SYS/WRITE packet in a whole load session (corvix-sim as a "
                "process): %.2f over 64 KiB, %.2f over 512 KiB\n",
                small, large);
    bench::PrintResult("link.ratio", link / bare, "<=2.0",
                       "network device 1 MiB windowed / bare TCP of the same frames");
    bench::PrintAllocationResults(
        "link", "network device", {"64k", "64 KiB load", small, 64 * 1024 / 128.0},
        {"512k", "512 KiB load (the flash window)", large, 512 * 1024 / 128.0});
    return 0;
}
