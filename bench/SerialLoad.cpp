// A 512 KiB image into corvix-sim paced at 460800 baud over RFC 2217 on loopback, through the
// whole session and engine, against the wire-limited ideal: every byte of every SYS/WRITE frame
// and of its acknowledgement on the line at 10 bits a byte, stop-and-wait, nothing else.
#include "BenchFiles.h"
#include "BenchResult.h"
#include "QuietDisplay.h"
#include "SimProcess.h"
#include "WatchEngine.h"

#include "comm/CommLogSwitches.h"
#include "comm/PacketCodec.h"
#include "load/LoadSession.h"
#include "loader/LoaderErrors.h"
#include "platform/Registry.h"
#include "settings/Zepenvironment.h"

#include "BoardPeer.h"
#include "Rfc2217Server.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <sys/resource.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr uint32_t ImageBytes = 512 * 1024;
constexpr uint32_t LineRate = 460800;

// CPU time the calling thread has used so far.
double ThreadCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// Watches the program's blocks and adds up their bytes on the line, and times the cold loader.
class TimingEngine : public WatchEngine {
public:
    using WatchEngine::WatchEngine;
    uint64_t wireBytes = 0; // request and reply frames of the program's blocks
    // The cold loader stage is mostly the reset pulse and settle pauses: what the user-interface
    // thread burns while it waits there.
    double coldLoadCpu = 0, coldLoadWall = 0;

    bool SendColdLoader(const std::string &path, int32_t baudRate) override {
        const double cpu = ThreadCpuSeconds();
        const auto start = Clock::now();
        const bool sent = WatchEngine::SendColdLoader(path, baudRate);
        coldLoadCpu = ThreadCpuSeconds() - cpu;
        coldLoadWall = std::chrono::duration<double>(Clock::now() - start).count();
        return sent;
    }

    void WriteBlock(uint32_t address, uint16_t length, const uint8_t *data) override {
        WatchEngine::WriteBlock(address, length, data);
        wireBytes +=
            FrameBytes(0, 3, address, length, data) + FrameBytes(0, 0x80 | 3, 0, 0, nullptr);
    }

private:
    // The stuffed frame's length, encoded into the engine's own buffers: no allocation, so the
    // count of the product's allocations stays clean.
    size_t FrameBytes(uint8_t type, uint8_t code, uint32_t address, uint16_t length,
                      const uint8_t *data) {
        size_t payloadLength = 0;
        if (data) {
            payload_[0] = 0;
            packet::StoreLe16(&payload_[1], length);
            packet::StoreLe32(&payload_[3], address);
            std::copy(data, data + length, payload_.begin() + 7);
            payloadLength = 7 + size_t(length);
        }
        uint8_t header[packet::HeaderSize], sum[packet::TrailerSize];
        packet::BuildHeader(header, type, code, uint16_t(payloadLength));
        packet::StoreLe16(sum, packet::PacketChecksum(header, payload_.data(), payloadLength));
        return packet::EncodeStuffed(header, payload_.data(), payloadLength, sum, frame_.data(),
                                     frame_.size());
    }

    std::array<uint8_t, 7 + 65535> payload_{};
    std::array<uint8_t, packet::StuffedFrameBound(7 + 65535)> frame_{};
};

struct SessionRun {
    int result = -1;
    double whole = 0, wholeCpu = 0; // the whole session: seconds, and the UI thread's CPU seconds
};

// One load session of the image into the board behind url, through COM1.
SessionRun RunSession(const fs::path &imagePath, const std::string &url, LoaderEngineApi &engine) {
    platform::RegKey("Software\\Vexlon\\ZEP\\Ports").SetString("COM1", url);
    platform::HWND window = platform::CreateWindow(&QuietDisplay::QuietProc);
    QuietDisplay display(window);
    SessionRun run;
    const auto start = Clock::now();
    const double cpuAtStart = ThreadCpuSeconds();
    LoadSession session(imagePath.string(), Env(), engine, display,
                        [] { return std::array<uint8_t, 16>{}; });
    session.RunLoad();
    run.whole = std::chrono::duration<double>(Clock::now() - start).count();
    run.wholeCpu = ThreadCpuSeconds() - cpuAtStart;
    platform::DestroyWindow(window);
    run.result = session.Result;
    if (run.result != 0) std::fprintf(stderr, "load failed: %d\n", run.result);
    return run;
}

// One whole load into a fresh simulated board, paced, with the communication log fully on or off.
struct LoadRun {
    bool loaded = false, intact = false;
    double measured = 0, ideal = 0, whole = 0, wholeCpu = 0, coldCpu = 0, coldWall = 0;
    uintmax_t logBytes = 0;
};

LoadRun RunLoad(const fs::path &imagePath, const std::vector<uint8_t> &image, bool logging) {
    LogSwitches() = CommLogSwitches{uint8_t(logging ? 1 : 0), 1, 1, 1, 1};
    LoadRun run;
    sim::BoardPeer board;
    sim::Rfc2217Server server(board, {0, true, true});
    if (!server.Start()) {
        std::fprintf(stderr, "corvix-sim could not start\n");
        return run;
    }
    TimingEngine engine(TheLoaderEngine());
    const SessionRun session = RunSession(imagePath, server.Url(), engine);
    server.Stop();
    if (session.result != 0) return run;
    run.loaded = true;
    run.whole = session.whole;
    run.wholeCpu = session.wholeCpu;
    run.intact = board.ReadFlash(0x80000, image.size()) == image;
    run.measured = engine.Seconds();
    run.ideal = double(engine.wireBytes) * 10.0 / LineRate;
    run.coldCpu = engine.coldLoadCpu;
    run.coldWall = engine.coldLoadWall;
    std::error_code missing;
    run.logBytes = logging ? fs::file_size("tcout.txt", missing) : 0;
    return run;
}

// Heap allocations per SYS/WRITE packet while the first `bytes` of the image load, unpaced, into
// corvix-sim run as a process of its own (its allocations are not ours); -1 on failure.
double AllocationsPerPacket(const fs::path &dir, const std::vector<uint8_t> &image, size_t bytes) {
    LogSwitches() = CommLogSwitches{0, 1, 1, 1, 1};
    const fs::path imagePath = dir / "part.bin", flash = dir / "flash.bin";
    bench::WriteFile(imagePath, image.data(), bytes);
    bench::SimProcess board({"board", "--rfc2217-port", "0", "--flash-out", flash.string()});
    if (board.Address().empty()) return -1;
    WatchEngine engine(TheLoaderEngine());
    const SessionRun session = RunSession(imagePath, board.Address(), engine);
    board.Stop(); // it writes its flash as it ends
    if (session.result != 0 || !bench::FileStartsWith(flash, image.data(), bytes)) return -1;
    return engine.AllocationsPerPacket();
}

} // namespace

int main() {
    const fs::path dir =
        fs::temp_directory_path() / ("tarnwick-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir / "prog");
    fs::current_path(dir); // the communication log is written to the current directory
    ::setenv("TARNWICK_REGISTRY", (dir / "registry.reg").c_str(), 1);
    LoadSettings((dir / "prog" / "tarnwick").string());
    const fs::path samples = fs::path(TARNWICK_SOURCE_DIR) / "samples";
    Env().ColdLoaderFile = (samples / "coldload.bin").string();
    Env().PilotBiosFile = (samples / "pilot.bin").string();
    Env().FlashTableFile = (samples / "Flash.ini").string();
    Env().Comm.ComPort = 1;

    std::vector<uint8_t> image(ImageBytes);
    std::mt19937 random(7);
    for (auto &byte : image) byte = static_cast<uint8_t>(random());
    const fs::path imagePath = dir / "image.bin";
    bench::WriteFile(imagePath, image.data(), image.size());

    const LoadRun plain = RunLoad(imagePath, image, false);
    const LoadRun logged = RunLoad(imagePath, image, true);
    // The board's flash window holds 512 KiB: that is the larger load.
    const double allocationsSmall = AllocationsPerPacket(dir, image, 64 * 1024);
    const double allocationsLarge = AllocationsPerPacket(dir, image, ImageBytes);
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(dir);
    if (!plain.loaded || !logged.loaded || allocationsSmall < 0 || allocationsLarge < 0) return 1;
    std::printf("serial load of %u bytes at %u baud over RFC 2217 (paced): flash %s\n", ImageBytes,
                LineRate, plain.intact && logged.intact ? "matches" : "DIFFERS");
    std::printf("  program blocks: %.3f s measured, %.3f s wire-limited ideal, ratio %.3f\n",
                plain.measured, plain.ideal, plain.measured / plain.ideal);
    std::printf("  whole load (cold loader, pilot BIOS, negotiation included): %.3f s, UI thread "
                "CPU %.3f s\n",
                plain.whole, plain.wholeCpu);
    std::printf("  cold loader stage (reset pulse and settle pauses): %.3f s, UI thread CPU %.1f "
                "ms (%.2f%% of a core)\n",
                plain.coldWall, plain.coldCpu * 1e3, 100.0 * plain.coldCpu / plain.coldWall);
    std::printf("  communication log fully on: program blocks %.3f s, ratio to logging off %.3f; "
                "whole load ratio %.3f; UI thread CPU %.3f s\n",
                logged.measured, logged.measured / plain.measured, logged.whole / plain.whole,
                logged.wholeCpu);
    std::printf("  log size: %.1f MiB for the load, %.2f MiB per MiB loaded\n",
                double(logged.logBytes) / (1024.0 * 1024.0),
                double(logged.logBytes) / double(ImageBytes));
    std::printf("  heap allocations per SYS/WRITE packet (unpaced, corvix-sim as a process): %.2f "
                "over 64 KiB, %.2f over 512 KiB\n",
                allocationsSmall, allocationsLarge);
    bench::PrintResult("serial.ratio", plain.measured / plain.ideal, "<=1.03",
                       "serial 512 KiB at 460800, paced RFC 2217 / wire-limited ideal");
    bench::PrintResult("serial.log_ratio", logged.measured / plain.measured, "-",
                       "serial 512 KiB, communication log fully on / off");
    bench::PrintAllocationResults(
        "serial", "serial", {"64k", "64 KiB load", allocationsSmall, 64 * 1024 / 128.0},
        {"512k", "512 KiB load (the flash window)", allocationsLarge, ImageBytes / 128.0});
    return plain.intact && logged.intact ? 0 : 1;
}
