// Our RFC 2217 client against a server nobody here wrote: ser2net serving a pseudo-terminal
// whose master side the test holds. Bytes cross both ways, and the rate the client asks for is
// the rate ser2net puts on the terminal.
#include "SerialTestSupport.h"

#include "platform/Rfc2217Client.h"
#include "platform/posix/Termios2.h"

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
        for (const auto &argument : arguments)
            argv.push_back(const_cast<char *>(argument.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 200; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_)
                return;
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
                              << "  connector: serialdev," << pty.SlavePath() << ",9600n81,local\n";
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
        if (!directory.empty())
            std::filesystem::remove_all(directory);
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

} // namespace
