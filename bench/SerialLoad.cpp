// A 512 KiB image into corvix-sim paced at 460800 baud over RFC 2217 on loopback, through the
// whole session and engine, against the wire-limited ideal: every byte of every SYS/WRITE frame
// and of its acknowledgement on the line at 10 bits a byte, stop-and-wait, nothing else.
#include "comm/CommLogSwitches.h"
#include "comm/PacketCodec.h"
#include "load/LoadSession.h"
#include "loader/ForwardingEngine.h"
#include "QuietDisplay.h"
#include "loader/LoaderErrors.h"
#include "platform/Registry.h"
#include "settings/Zepenvironment.h"

#include "BoardPeer.h"
#include "Rfc2217Server.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
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

// Passes every call to the real engine and notes when the program's blocks start and end.
class TimingEngine : public ForwardingEngine {
public:
    using ForwardingEngine::ForwardingEngine;
    Clock::time_point firstWrite{}, lastWriteDone{};
    uint64_t wireBytes = 0; // request and reply frames of the program's blocks
    // The cold loader stage is mostly the reset pulse and settle pauses: what the user-interface
    // thread burns while it waits there.
    double coldLoadCpu = 0, coldLoadWall = 0;

    bool SendColdLoader(const std::string &path, int32_t baudRate) override {
        const double cpu = ThreadCpuSeconds();
        const auto start = Clock::now();
        const bool sent = ForwardingEngine::SendColdLoader(path, baudRate);
        coldLoadCpu = ThreadCpuSeconds() - cpu;
        coldLoadWall = std::chrono::duration<double>(Clock::now() - start).count();
        return sent;
    }

    void WriteBlock(uint32_t address, uint16_t length, const uint8_t *data) override {
        if (firstWrite == Clock::time_point{}) firstWrite = Clock::now();
        std::vector<uint8_t> payload(7 + length);
        payload[0] = 0;
        packet::StoreLe16(&payload[1], length);
        packet::StoreLe32(&payload[3], address);
        std::copy(data, data + length, payload.begin() + 7);
        wireBytes += packet::MakeFrame(0, 3, payload.data(), payload.size()).size();
        wireBytes += packet::MakeFrame(0, 0x80 | 3, nullptr, 0).size();
        ForwardingEngine::WriteBlock(address, length, data);
        lastWriteDone = Clock::now();
    }
};

// One whole load into a fresh simulated board, with the communication log fully on or off.
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
    platform::RegKey("Software\\Vexlon\\ZEP\\Ports").SetString("COM1", server.Url());
    platform::HWND window = platform::CreateWindow(&QuietDisplay::QuietProc);
    QuietDisplay display(window);
    TimingEngine engine(TheLoaderEngine());
    const auto start = Clock::now();
    const double cpuAtStart = ThreadCpuSeconds();
    LoadSession session(imagePath.string(), Env(), engine, display,
                        [] { return std::array<uint8_t, 16>{}; });
    session.RunLoad();
    run.whole = std::chrono::duration<double>(Clock::now() - start).count();
    run.wholeCpu = ThreadCpuSeconds() - cpuAtStart;
    platform::DestroyWindow(window);
    server.Stop();
    if (session.Result != 0) {
        std::fprintf(stderr, "load failed: %d\n", session.Result);
        return run;
    }
    run.loaded = true;
    run.intact = board.ReadFlash(0x80000, image.size()) == image;
    run.measured = std::chrono::duration<double>(engine.lastWriteDone - engine.firstWrite).count();
    run.ideal = double(engine.wireBytes) * 10.0 / LineRate;
    run.coldCpu = engine.coldLoadCpu;
    run.coldWall = engine.coldLoadWall;
    std::error_code missing;
    run.logBytes = logging ? fs::file_size("tcout.txt", missing) : 0;
    return run;
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
    std::ofstream(imagePath, std::ios::binary)
        .write(reinterpret_cast<const char *>(image.data()), image.size());

    const LoadRun plain = RunLoad(imagePath, image, false);
    const LoadRun logged = RunLoad(imagePath, image, true);
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(dir);
    if (!plain.loaded || !logged.loaded) return 1;
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
    return plain.intact && logged.intact ? 0 : 1;
}
