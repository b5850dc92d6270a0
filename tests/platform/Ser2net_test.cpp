// Our RFC 2217 client against a server nobody here wrote: ser2net serving a pseudo-terminal
// whose master side the test holds. Bytes cross both ways, and the rate the client asks for is
// the rate ser2net puts on the terminal.
#include "SerialTestSupport.h"

#include "comm/TSerialConnection.h"
#include "platform/Registry.h"
#include "platform/Rfc2217Client.h"
#include "platform/posix/Termios2.h"

#include "PacketPeer.h"
#include "PtyFrontEnd.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace serialtest;

namespace {

const char Ser2netPath[] = "/usr/sbin/ser2net";

// A child process that is ended (TERM, then KILL) when the test is done with it.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string> &arguments, const std::string &logFile) {
        std::vector<char *> argv;
        for (const auto &argument : arguments) argv.push_back(const_cast<char *>(argument.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 200; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
            std::this_thread::sleep_for(10ms);
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    bool Started() const { return pid_ > 0; }
    bool Running() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }

private:
    pid_t pid_ = -1;
};

std::string ReadFile(const std::filesystem::path &path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class Ser2net : public ::testing::Test {
protected:
    // The terminal ser2net serves: the test's own pseudo-terminal unless a test says otherwise.
    virtual std::string ServedDevice() const { return pty.SlavePath(); }

    void SetUp() override {
        if (!std::filesystem::exists(Ser2netPath))
            GTEST_SKIP()
                << Ser2netPath
                << " is missing: install the ser2net package to run this interoperability test";
        directory = std::filesystem::temp_directory_path() /
                    ("tarnwick-ser2net-" + std::to_string(::getpid()));
        std::filesystem::create_directories(directory);
        const uint16_t tcpPort = FreeLoopbackPort();
        ASSERT_NE(tcpPort, 0);
        const auto config = directory / "ser2net.yaml";
        std::ofstream(config) << "connection: &board\n"
                              << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << tcpPort << "\n"
                              << "  connector: serialdev," << ServedDevice() << ",9600n81,local\n";
        log = directory / "ser2net.log";
        server = std::make_unique<ChildProcess>(
            std::vector<std::string>{Ser2netPath, "-n", "-d", "-u", "-c", config.string()},
            log.string());
        ASSERT_TRUE(server->Started());
        url = "rfc2217://127.0.0.1:" + std::to_string(tcpPort);
        // ser2net needs a moment before it listens.
        platform::SerialError error;
        Eventually(
            [&] {
                return (port = platform::OpenSerialDevice(url, &error)) != nullptr ||
                       !server->Running();
            },
            5000ms);
        ASSERT_NE(port, nullptr) << error.description << "\nser2net said:\n" << ReadFile(log);
    }
    void TearDown() override {
        port.reset();
        server.reset();
        if (!directory.empty()) std::filesystem::remove_all(directory);
    }
    uint32_t TerminalRate() const {
        platform::Termios2State state;
        return platform::ReadTermios2(pty.Master(), &state) == 0 ? state.outputBaud : 0;
    }

    PtyPair pty;
    std::filesystem::path directory, log;
    std::unique_ptr<ChildProcess> server;
    std::string url;
    std::unique_ptr<platform::SerialPort> port;
};

TEST_F(Ser2net, HonoursTheRateAndCarriesBytesBothWays) {
    for (uint32_t rate : {57600u, 115200u}) {
        ASSERT_TRUE(
            port->Configure({rate, 0, platform::DTR_CONTROL_ENABLE, platform::RTS_CONTROL_ENABLE}));
        EXPECT_TRUE(Eventually([&] { return TerminalRate() == rate; }))
            << "terminal at " << TerminalRate();
        auto &client = dynamic_cast<platform::Rfc2217Client &>(*port);
        EXPECT_TRUE(Eventually([&] { return client.ReportedBaudRate() == rate; }));
    }

    const auto bytes = AllByteValues();
    ASSERT_TRUE(port->Write(bytes.data(), bytes.size()));
    EXPECT_EQ(pty.ReadMaster(bytes.size(), 3000ms), bytes) << "ser2net said:\n" << ReadFile(log);
    pty.WriteMaster(bytes);
    EXPECT_EQ(ReadFromPort(*port, bytes.size(), 3000ms), bytes);
}

TEST_F(Ser2net, UnansweredLineControlsDoNotHoldThePort) {
    // ser2net does not acknowledge DTR and RTS on a pseudo-terminal; none of this may wait.
    for (int dtr : {0, 1, 0})
        ASSERT_TRUE(port->Configure({9600, 0, dtr, platform::RTS_CONTROL_ENABLE}));
    const uint8_t byte = 0x42;
    ASSERT_TRUE(port->Write(&byte, 1));
    EXPECT_EQ(pty.ReadMaster(1, 3000ms), std::vector<uint8_t>{0x42});
    // It reports the lines of a terminal that has none as all low, once, when the option is agreed.
    uint32_t status = 0xFFFF;
    ASSERT_TRUE(Eventually([&] { return port->GetModemStatus(&status); }));
    EXPECT_EQ(status & platform::MS_DSR_ON, 0u);
}

// Packets through ser2net: our serial connection on one side, corvix-sim's packet peer on the
// pseudo-terminal ser2net serves. Frames with flag and escape bytes, and 0xFF, which Telnet
// doubles, must arrive intact both ways.
class Ser2netPackets : public Ser2net {
protected:
    Ser2netPackets() { front.Start(); }
    std::string ServedDevice() const override { return front.SlavePath(); }

    sim::PacketPeer peer;
    sim::PtyFrontEnd front{peer};
};

platform::LRESULT QuietProc(platform::HWND, platform::UINT, platform::WPARAM, platform::LPARAM) {
    return 0;
}

TEST_F(Ser2netPackets, RequestAndReplyCrossIntact) {
    port.reset(); // the connection opens its own
    const auto dir = directory;
    ::setenv("TARNWICK_REGISTRY", (dir / "registry.reg").c_str(), 1);
    platform::ReloadRegistry();
    platform::RegKey("Software\\Vexlon\\ZEP\\Ports").SetString("COM1", url);

    const std::vector<uint8_t> answer = {0x7E, 0xFF, 0x7D, 0x00, 0xFF, 0x42};
    peer.SetRule({0, 2, sim::ReplyKind::Ack, answer});
    platform::HWND window = platform::CreateWindow(QuietProc);
    {
        TSerialConnection connection(window);
        CommOptions options;
        options.ComPort = 1;
        options.BaudRate = 115200;
        options.DtrControl = 1;
        options.RtsControl = 1;
        options.SerialResponseTimeout = 500;
        options.SerialRetryCount = 3;
        connection.SetSettings(options);
        connection.Open(1);
        connection.RegisterHandler(0, 2, nullptr, nullptr, true, true);
        std::vector<uint8_t> buffer = {0xFF, 0x7E, 0x7D, 0xFF, 0x01};
        const std::vector<uint8_t> request = buffer;
        buffer.resize(16);
        connection.Send(0, 2, buffer.data(), uint32_t(request.size()), buffer.size());
        EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + long(answer.size())),
                  answer);
        const auto received = peer.Received();
        ASSERT_FALSE(received.empty()) << "ser2net said:\n" << ReadFile(log);
        EXPECT_EQ(received.back().frame.payload, request);
        connection.Close();
    }
    platform::DestroyWindow(window);
    ::unsetenv("TARNWICK_REGISTRY");
    platform::ReloadRegistry();
}

} // namespace
