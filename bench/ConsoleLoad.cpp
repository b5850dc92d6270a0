// A 1 MiB user program through the real load session, engine and CorvixSys console connection
// to corvix-sim's console on loopback (login, passthrough, each 128-byte block written and its
// acknowledgement waited for), against a bare TCP exchange of the same stuffed frames with a
// plain peer that answers each with an acknowledgement frame, one at a time. Only the blocks are
// timed: from the first write to the last acknowledgement. The ratio is what the session, the
// engine, the connection's reader thread and hand-over, and the simulated board cost over the
// wire.
#include "BenchResult.h"
#include "QuietDisplay.h"
#include "SimProcess.h"
#include "WatchEngine.h"
#include "WritePayload.h"

#include "ConsoleServer.h"
#include "FrameCodec.h"
#include "OsBoardPeer.h"
#include "Rfc2217Server.h"

#include "load/LoadDisplay.h"
#include "load/LoadSession.h"
#include "loader/LoaderEngine.h"
#include "platform/Md5.h"
#include "platform/Messages.h"
#include "platform/Registry.h"
#include "platform/Socket.h"
#include "settings/Zepenvironment.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace platform;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t ProgramSize = 1 << 20;
constexpr uint32_t RecordData = 64 * 1024; // sixteen records of 64 KiB
constexpr size_t Block = 128;
constexpr uint32_t LoadAddress = 0x100000;
constexpr int Rounds = 3;
// The serial road moves real line time, so a smaller program does: 256 KiB at 460800 baud.
constexpr size_t SerialProgramSize = 256 * 1024;
constexpr uint32_t SerialRate = 460800;

void PutLe32(std::vector<uint8_t> &out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(uint8_t(value >> shift));
}

std::vector<uint8_t> ProgramData(size_t size = ProgramSize) {
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 131 + 17);
    return data;
}

// The user program file: records of RecordData bytes laid out one after the other.
std::vector<uint8_t> ProgramFile(const std::vector<uint8_t> &data) {
    const Md5Digest digest = Md5(data.data(), data.size());
    std::vector<uint8_t> file;
    PutLe32(file, 0);
    PutLe32(file, uint32_t(data.size() + data.size() / RecordData * 8));
    PutLe32(file, 0);
    file.insert(file.end(), digest.begin(), digest.end());
    for (size_t offset = 0; offset < data.size(); offset += RecordData) {
        PutLe32(file, LoadAddress + uint32_t(offset));
        PutLe32(file, RecordData + 8);
        file.insert(file.end(), data.begin() + long(offset),
                    data.begin() + long(offset + RecordData));
    }
    return file;
}

// The settings of a load through the CorvixSys console on 127.0.0.1:port, as corvix-sim's
// console takes it.
Environment ConsoleEnvironment(int port) {
    Environment env;
    env.LoadThroughCorvixSys = 1;
    env.BiosBaudRate = 115200;
    env.Comm.UseTCP = 1;
    env.Comm.UseCorvixSys = 1;
    env.Comm.EthernetResponseTimeout = 5000;
    SetField(env.Comm.CorvixSysAddress, "127.0.0.1");
    env.Comm.CorvixSysTcpPort = port;
    SetField(env.Comm.CorvixSysUserName, sim::ConsoleOptions::DefaultUser);
    SetField(env.Comm.CorvixSysPassword, sim::ConsoleOptions::DefaultPassword);
    SetField(env.Comm.ConsoleNewline, sim::console::Newline);
    SetField(env.Comm.ConsoleGreetingMessage, sim::console::Greeting);
    SetField(env.Comm.ConsoleUserNamePrompt, sim::console::UserPrompt);
    SetField(env.Comm.ConsolePasswordRequiredMessage, sim::console::PasswordRequired);
    SetField(env.Comm.ConsolePasswordPrompt, sim::console::PasswordPrompt);
    SetField(env.Comm.ConsoleLoggedInMessage, sim::console::LoggedIn);
    SetField(env.Comm.ConsoleBadUserNameMessage, sim::console::BadLogin);
    SetField(env.Comm.ConsolePrompt, sim::console::Prompt);
    SetField(env.Comm.TargetModeCommand, sim::console::TargetMode);
    SetField(env.Comm.TargetModeMessage, sim::console::TargetModeReply);
    return env;
}

// Seconds for the program's blocks through the product; -1 on failure.
double ThroughConsole(const std::string &programPath) {
    sim::ConsoleServer console;
    if (!console.Start()) return -1;
    Environment env = ConsoleEnvironment(console.Port());
    HWND window = CreateWindow(&QuietDisplay::QuietProc);
    QuietDisplay display(window);
    WatchEngine engine(ProcessLoaderEngine());
    LoadSession session(programPath, env, engine, display,
                        [] { return std::array<uint8_t, 16>{}; });
    session.RunLoad();
    DestroyWindow(window);
    const bool whole = session.Result == 0 && engine.Packets() == ProgramSize / Block &&
                       console.Board().WritesStored() == ProgramSize / Block;
    return whole ? engine.Seconds() : -1;
}

std::string WriteProgramFile(const std::vector<uint8_t> &data, const char *name) {
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("tarnwick-bench-" + std::to_string(::getpid()) + name);
    const std::vector<uint8_t> file = ProgramFile(data);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(file.data()), long(file.size()));
    return path.string();
}

// Heap allocations per SYS/WRITE packet while a user program of `size` bytes goes through a whole
// load session to corvix-sim's console, run as a process of its own (its allocations are not
// ours); -1 on failure.
double AllocationsPerPacket(size_t size) {
    const std::string programPath = WriteProgramFile(ProgramData(size), "-part.upl");
    bench::SimProcess console({"console", "--port", "0"});
    WatchEngine engine(ProcessLoaderEngine());
    int result = -1;
    if (!console.Address().empty()) {
        Environment env = ConsoleEnvironment(console.Port());
        HWND window = CreateWindow(&QuietDisplay::QuietProc);
        QuietDisplay display(window);
        LoadSession session(programPath, env, engine, display,
                            [] { return std::array<uint8_t, 16>{}; });
        session.RunLoad();
        DestroyWindow(window);
        result = session.Result;
    }
    std::filesystem::remove(programPath);
    return result == 0 && engine.Packets() == size / Block ? engine.AllocationsPerPacket() : -1;
}

// The same load over a serial line: an OS board behind corvix-sim's RFC 2217 server, paced at
// 460800 baud. Returns the blocks' seconds and, in ideal, what their frames and acknowledgements
// take on the line at 10 bits a byte, one after the other; -1 on failure.
double ThroughSerialOsBoard(const std::vector<uint8_t> &data, double &ideal) {
    sim::OsBoardPeer board({true, false, SerialRate});
    sim::Rfc2217Server server(board, {0, true, true});
    if (!server.Start()) return -1;
    const std::filesystem::path registry =
        std::filesystem::temp_directory_path() /
        ("tarnwick-bench-" + std::to_string(::getpid()) + ".reg");
    ::setenv("TARNWICK_REGISTRY", registry.c_str(), 1);
    ReloadRegistry();
    RegKey("Software\\Vexlon\\ZEP\\Ports").SetString("COM1", server.Url());
    const std::string programPath = WriteProgramFile(data, "-serial.upl");
    Environment env;
    env.LoadThroughCorvixSys = 1;
    env.BiosBaudRate = SerialRate;
    env.Comm.UseTCP = 0;
    env.Comm.ComPort = 1;
    env.Comm.SerialResponseTimeout = 2000;
    env.Comm.SerialRetryCount = 1;

    HWND window = CreateWindow(&QuietDisplay::QuietProc);
    QuietDisplay display(window);
    WatchEngine engine(ProcessLoaderEngine());
    LoadSession session(programPath, env, engine, display,
                        [] { return std::array<uint8_t, 16>{}; });
    session.RunLoad();
    DestroyWindow(window);
    server.Stop();
    std::filesystem::remove(programPath);
    std::filesystem::remove(registry);
    ideal = 0;
    const sim::Frame ack{0, 0x83, {}};
    for (size_t i = 0; i < data.size() / Block; ++i) {
        std::vector<uint8_t> payload =
            bench::WritePayload(LoadAddress + uint32_t(i * Block), data.data() + i * Block, Block);
        ideal += double(sim::EncodeFrame(sim::Frame{0, 3, std::move(payload)}).size() +
                        sim::EncodeFrame(ack).size());
    }
    ideal = ideal * 10.0 / SerialRate;
    const bool whole = session.Result == 0 && engine.Packets() == data.size() / Block &&
                       board.Board().WritesStored() == data.size() / Block;
    return whole ? engine.Seconds() : -1;
}

// Seconds for the same stuffed frames, each answered by an acknowledgement before the next.
double BareTcp(const std::vector<uint8_t> &data) {
    Socket listener = Socket::Tcp();
    listener.Bind(Ipv4Loopback(), 0);
    listener.Listen(1);
    Socket client = Socket::Tcp();
    if (client.Connect(Ipv4Loopback(), listener.LocalPort()) != 0) return -1;
    Socket server = listener.Accept();
    const size_t frames = data.size() / Block;
    std::vector<std::vector<uint8_t>> wire;
    for (size_t i = 0; i < frames; ++i) {
        std::vector<uint8_t> payload =
            bench::WritePayload(LoadAddress + uint32_t(i * Block), data.data() + i * Block, Block);
        wire.push_back(sim::EncodeFrame(sim::Frame{0, 3, std::move(payload)}));
    }
    const std::vector<uint8_t> ack = sim::EncodeFrame(sim::Frame{0, 0x83, {}});
    std::thread peer([&] {
        sim::FrameDecoder decoder;
        std::vector<sim::Frame> got;
        uint8_t buffer[4096];
        for (size_t answered = 0; answered < frames;) {
            const IoResult read = server.Recv(buffer, sizeof buffer);
            if (read.error || read.count == 0) return;
            decoder.Feed(buffer, size_t(read.count), got);
            for (; answered < got.size(); ++answered) server.SendAll(ack.data(), ack.size());
        }
    });
    sim::FrameDecoder decoder;
    std::vector<sim::Frame> acks;
    uint8_t buffer[256];
    const auto start = Clock::now();
    for (const auto &frame : wire) {
        client.SendAll(frame.data(), frame.size());
        const size_t want = acks.size() + 1;
        while (acks.size() < want) {
            const IoResult read = client.Recv(buffer, sizeof buffer);
            if (read.error || read.count == 0) break;
            decoder.Feed(buffer, size_t(read.count), acks);
        }
        if (acks.size() < want) break;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    client.Close();
    peer.join();
    return acks.size() == frames ? seconds : -1;
}

} // namespace

int main() {
    const std::vector<uint8_t> data = ProgramData();
    const std::filesystem::path path = WriteProgramFile(data, ".upl");
    double console = 1e9, bare = 1e9;
    for (int round = 0; round < Rounds; ++round) {
        const double c = ThroughConsole(path.string()), b = BareTcp(data);
        if (c < 0 || b < 0) {
            std::fprintf(stderr, "ConsoleLoad: a transfer failed\n");
            std::filesystem::remove(path);
            return 1;
        }
        console = std::min(console, c);
        bare = std::min(bare, b);
    }
    std::filesystem::remove(path);
    std::printf(
        "ConsoleLoad: 1 MiB user program as %zu SYS/WRITE blocks, each acknowledged (best of %d)\n",
        ProgramSize / Block, Rounds);
    std::printf("  through the session and TCorvixSysConnection to corvix-sim's console: %.1f ms "
                "(%.2f MiB/s)\n",
                console * 1e3, 1 / console);
    std::printf("  bare TCP, same frames, one at a time:                                 %.1f ms "
                "(%.2f MiB/s)\n",
                bare * 1e3, 1 / bare);
    std::printf("  ratio console / bare: %.2f (goal 1.5 or less)\n", console / bare);

    double ideal = 0;
    const double serial = ThroughSerialOsBoard(ProgramData(SerialProgramSize), ideal);
    if (serial < 0) {
        std::fprintf(stderr, "ConsoleLoad: the serial transfer failed\n");
        return 1;
    }
    std::printf(
        "SerialOsLoad: 256 KiB user program to an OS board over RFC 2217, paced at %u baud\n",
        SerialRate);
    std::printf("  program blocks: %.3f s measured, %.3f s wire-limited ideal, ratio %.3f (goal "
                "1.05 or less)\n",
                serial, ideal, serial / ideal);

    const double small = AllocationsPerPacket(64 * 1024), large = AllocationsPerPacket(ProgramSize);
    if (small < 0 || large < 0) {
        std::fprintf(stderr, "ConsoleLoad: a load to corvix-sim's console process failed\n");
        return 1;
    }
    std::printf("  console road, heap allocations per SYS/WRITE packet (corvix-sim as a process): "
                "%.2f over 64 KiB, %.2f over 1 MiB\n",
                small, large);
    bench::PrintResult("console.ratio", console / bare, "<=1.5",
                       "user program 1 MiB through the console / bare TCP one block at a time");
    bench::PrintResult("console_serial.ratio", serial / ideal, "<=1.05",
                       "user program 256 KiB to an OS board, paced RFC 2217 / wire-limited ideal");
    bench::PrintAllocationResults("console", "console",
                                  {"64k", "64 KiB user program", small, 64 * 1024 / 128.0},
                                  {"1m", "1 MiB user program", large, ProgramSize / 128.0});
    return 0;
}
