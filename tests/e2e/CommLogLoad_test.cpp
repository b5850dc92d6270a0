// Whole loads with the communication log on: the serial road, the network device and the
// CorvixSys console each leave a tcout.txt that shows every packet, and none of them lets a
// passphrase, password or user name into it.
#include "load/LoadSession.h"
#include "loader/LoaderEngine.h"
#include "settings/Passphrase.h"
#include "settings/Zepenvironment.h"
#include "support/CommLogFile.h"
#include "support/LinkOptions.h"
#include "support/RecordingDisplay.h"
#include "support/StartConsole.h"
#include "support/UserProgramBuilder.h"
#include "support/WholeLoadTest.h"

#include "BoardPeer.h"
#include "LinkDevice.h"
#include "OsBoardPeer.h"
#include "PtyFrontEnd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace {

namespace fs = std::filesystem;

class CommLogLoadTest : public WholeLoadTest {
protected:
    std::unique_ptr<CommLogFile> log;

    void SetUp() override {
        WholeLoadTest::SetUp();
        log = std::make_unique<CommLogFile>(1, 1, 1, 1, 1); // everything on
    }
    void TearDown() override {
        log.reset();
        WholeLoadTest::TearDown();
    }

    int Load(const std::string &file, const std::string &passphrase = "") {
        RecordingDisplay display(window);
        LoadSession session(file, Env(), TheLoaderEngine(), display,
                            [&] { return KeyOfPassphrase(passphrase); });
        session.RunLoad();
        EXPECT_TRUE(display.messages.empty())
            << (display.messages.empty() ? "" : display.messages[0].second);
        return session.Result;
    }

    // A bootstrap board on a pseudo-terminal, with COM1 pointed at it.
    struct PtyBoard {
        sim::BoardPeer board{NoModemLines()};
        sim::PtyFrontEnd front{board};
        static sim::BoardOptions NoModemLines() {
            sim::BoardOptions options;
            options.hasModemLines = false;
            return options;
        }
    };
    std::unique_ptr<PtyBoard> StartPtyBoard() {
        auto target = std::make_unique<PtyBoard>();
        EXPECT_TRUE(target->front.Start());
        UseSerialDevice(target->front.SlavePath());
        Env().Comm.DetectProcessor = 0;
        return target;
    }

    void UseSerialDevice(const std::string &device) {
        platform::RegKey("Software\\Vexlon\\ZEP\\Ports").SetString("COM1", device);
        Env().Comm.UseTCP = 0;
        Env().Comm.ComPort = 1;
    }

    std::string Program() const {
        const fs::path path = dir / "program.upl";
        const auto bytes = upltest::Builder().Add(0x20000, upltest::Pattern(300, 1)).Bytes();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }

    // Every send and receive shows its bytes; returns the packet entries.
    std::vector<CommLogEntry> TrafficEntries() const {
        std::vector<CommLogEntry> traffic;
        for (const CommLogEntry &entry : ParseCommLog(log->Read().value_or(""))) {
            if (entry.heading != " send " && entry.heading != " receive") continue;
            EXPECT_FALSE(entry.dump.empty()) << entry.heading << " without its bytes";
            traffic.push_back(entry);
        }
        EXPECT_FALSE(traffic.empty());
        return traffic;
    }

    static size_t CountNamed(const std::vector<CommLogEntry> &entries, const std::string &name) {
        return static_cast<size_t>(
            std::count_if(entries.begin(), entries.end(), [&](const auto &e) {
                return !e.decoded.empty() && e.decoded[0] == name;
            }));
    }

    // Neither the text nor its bytes appear anywhere in the log.
    void ExpectAbsent(const std::string &secret) const {
        const std::string text = log->Read().value_or("");
        EXPECT_EQ(text.find(secret), std::string::npos) << secret;
        std::string hex, dumped;
        char digits[4];
        for (unsigned char c : secret) {
            std::snprintf(digits, sizeof digits, "%02x ", c);
            hex += digits;
        }
        for (const CommLogEntry &entry : ParseCommLog(text))
            for (const std::string &line : entry.dump) dumped += line;
        EXPECT_EQ(dumped.find(hex), std::string::npos) << secret << " as bytes";
    }
};

TEST_F(CommLogLoadTest, SerialLoadShowsEveryPacketAndTheFirstWriteAt0x80000) {
    std::ofstream(log->Path()) << "an earlier load's log\r\n";
    const auto target = StartPtyBoard();

    ASSERT_EQ(Load(Image(300)), 0);
    const std::string text = log->Read().value_or("");
    EXPECT_EQ(text.find("an earlier load"), std::string::npos);
    EXPECT_EQ(text.rfind("\r\n(", 0), 0u) << "the log starts with a time stamp";
    EXPECT_NE(text.find(" COM1 opened\r\nBaud rate: "), std::string::npos);
    EXPECT_NE(text.find(" port closed \r\n"), std::string::npos);

    const auto traffic = TrafficEntries();
    EXPECT_EQ(CountNamed(traffic, "SYS/WRITE"), 3u);
    EXPECT_EQ(CountNamed(traffic, "SYS/WRITE (ACK)"), 3u);
    EXPECT_EQ(CountNamed(traffic, "SYS/INFOPROBE (ACK)"), 1u);
    const auto firstWrite = std::find_if(traffic.begin(), traffic.end(), [](const auto &e) {
        return !e.decoded.empty() && e.decoded[0] == "SYS/WRITE";
    });
    ASSERT_NE(firstWrite, traffic.end());
    ASSERT_EQ(firstWrite->decoded.size(), 2u);
    EXPECT_EQ(firstWrite->decoded[1], "128 bytes to 0x80000");
    // The INFOPROBE reply carries the ID block: its fields follow the name line.
    const auto probe = std::find_if(traffic.begin(), traffic.end(), [](const auto &e) {
        return !e.decoded.empty() && e.decoded[0] == "SYS/INFOPROBE (ACK)";
    });
    ASSERT_NE(probe, traffic.end());
    ASSERT_GT(probe->decoded.size(), 5u);
    EXPECT_EQ(probe->decoded[5].rfind("flashID       = 0x", 0), 0u) << probe->decoded[5];
}

TEST_F(CommLogLoadTest, LoggingOffLeavesNoFileBehind) {
    LogSwitches().EnableTcLogging = 0;
    const auto target = StartPtyBoard();
    ASSERT_EQ(Load(Image(200)), 0);
    EXPECT_FALSE(log->Exists());
}

TEST_F(CommLogLoadTest, NetworkLoadLogsPacketsButNotThePassphrase) {
    const std::string passphrase = "Horse-Battery-77";
    sim::LinkDevice device(WithPassphrase(passphrase));
    std::string why;
    ASSERT_TRUE(device.Start(&why)) << why;
    Env().Comm.UseTCP = 1;
    Env().Comm.UseCorvixLink = 1;
    Env().Comm.UseCorvixSys = 0;
    SetField(Env().Comm.CorvixLinkAddress, "127.0.0.1");
    Env().Comm.CorvixLinkTcpPort = device.Port();

    ASSERT_EQ(Load(Image(300), passphrase), 0);
    const auto traffic = TrafficEntries();
    EXPECT_EQ(CountNamed(traffic, "SYS/INFOPROBE (ACK)"), 1u);
    EXPECT_GE(CountNamed(traffic, "SYS/STARTBIOS"), 1u);
    ExpectAbsent(passphrase);
}

TEST_F(CommLogLoadTest, ConsoleLoadLogsThePassthroughButNotTheLogin) {
    sim::ConsoleOptions options;
    options.user = "fieldtech";
    options.password = "Tr0ub4dor-9";
    auto console = StartConsole(options);
    Env().LoadThroughCorvixSys = 1;
    UseConsole(*console, options.user.c_str(), options.password.c_str());

    ASSERT_EQ(Load(Program()), 0);
    const auto traffic = TrafficEntries();
    EXPECT_EQ(CountNamed(traffic, "SYS/WRITE"), 3u);
    EXPECT_EQ(CountNamed(traffic, "SYS/WRITE (ACK)"), 3u);
    ExpectAbsent(options.user);
    ExpectAbsent(options.password);
}

// The serial CorvixSys road lets go of the port to wake the board: the log of the load goes
// on after it instead of starting again.
TEST_F(CommLogLoadTest, ADisconnectInsideTheLoadKeepsWhatWasLogged) {
    sim::OsSerialOptions serial;
    serial.hasModemLines = false;
    serial.needsWake = true;
    serial.rate = static_cast<uint32_t>(Env().BiosBaudRate);
    sim::OsBoardPeer board(serial);
    sim::PtyFrontEnd front(board);
    ASSERT_TRUE(front.Start());
    UseSerialDevice(front.SlavePath());
    Env().LoadThroughCorvixSys = 1;
    Env().Comm.SerialResponseTimeout = 300;
    Env().Comm.SerialRetryCount = 1;

    ASSERT_EQ(Load(Program()), 0);
    // The probe (SYS code 11) went out unanswered before the wake and once more after it.
    size_t probes = 0;
    for (const CommLogEntry &entry : TrafficEntries())
        if (entry.heading == " send " && entry.dump[0].rfind("7e 02 00 00 0b ", 0) == 0) ++probes;
    EXPECT_GE(probes, 2u);
}

} // namespace
