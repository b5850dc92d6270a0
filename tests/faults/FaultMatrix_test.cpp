// Every road against every misbehaviour corvix-sim can show, through the real session, engine and
// connections: what the user is told, how long it takes, that the port, sockets and threads are
// all given back, that the settings file is not touched, and that the next load in the same
// process works.
#include "load/LoadSession.h"
#include "loader/LoaderEngine.h"
#include "loader/LoaderErrors.h"
#include "platform/Registry.h"
#include "settings/Passphrase.h"
#include "settings/Zepenvironment.h"
#include "support/LinkOptions.h"
#include "support/RecordingDisplay.h"
#include "support/StartConsole.h"
#include "support/UserProgramBuilder.h"
#include "support/WholeLoadTest.h"

#include "BoardPeer.h"
#include "LinkDevice.h"
#include "OsBoardPeer.h"
#include "PtyFrontEnd.h"
#include "Rfc2217Server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

enum class Road { SerialPty, SerialRfc2217, Link, Console, OsSerial };

const char *RoadName(Road road) {
    switch (road) {
    case Road::SerialPty: return "SerialPty";
    case Road::SerialRfc2217: return "SerialRfc2217";
    case Road::Link: return "Link";
    case Road::Console: return "Console";
    case Road::OsSerial: return "OsSerial";
    }
    return "";
}

// What the test does to the load besides the simulator's own fault.
enum class Disturbance {
    None,
    CancelAtStage, // Cancel pressed as the named stage begins
    TargetGoesAway // the port or server disappears once the board has answered a few requests
};

struct MatrixCase {
    Road road;
    const char *fault; // corvix-sim's spelling, "" for none
    Disturbance disturbance;
    const char *stage; // CancelAtStage only
    int32_t result;
    double maxSeconds; // a generous bound: dead links end at once, silent ones after their waits
};

void PrintTo(const MatrixCase &c, std::ostream *out);

std::string CaseName(const MatrixCase &c) {
    std::string name = std::string(RoadName(c.road)) + "_" + (*c.fault ? c.fault : "none");
    if (c.disturbance == Disturbance::CancelAtStage) name += std::string("_cancel_") + c.stage;
    if (c.disturbance == Disturbance::TargetGoesAway) name += "_goes_away";
    for (char &ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
}

void PrintTo(const MatrixCase &c, std::ostream *out) { *out << CaseName(c); }

size_t EntriesIn(const char *folder) {
    size_t count = 0;
    std::error_code ignored;
    for (auto it = fs::directory_iterator(folder, ignored); it != fs::directory_iterator(); ++it)
        ++count;
    return count;
}

// What the process holds: open descriptors and threads.
struct Holdings {
    size_t fds = EntriesIn("/proc/self/fd");
    size_t threads = EntriesIn("/proc/self/task");
};

// One simulated target of a road, started with a fault.
class Target {
public:
    virtual ~Target() = default;
    // Points the settings at the target; returns the file to load.
    virtual std::string Prepare(const fs::path &folder) = 0;
    virtual bool HoldsTheFile() const = 0;
    virtual size_t Answers() const = 0;
    virtual void GoAway() = 0;
};

// Over an unpaced pty a packet's round trip is a fraction of a millisecond: the load must not
// end in the moment between the board's second answer and its going away, so it takes 512
// packets there. Elsewhere a round trip takes milliseconds (RFC 2217), or a fault that stops the
// network device's acknowledgements costs a time-out per packet still out: 8 packets.
constexpr size_t PtyImageSize = 64 * 1024;
constexpr size_t ImageSize = 1000;

std::vector<uint8_t> ImageBytes(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    return bytes;
}

std::string WriteFile(const fs::path &path, const std::vector<uint8_t> &bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path.string();
}

void UseComPort(const std::string &device) {
    platform::RegKey("Software\\Vexlon\\ZEP\\Ports").SetString("COM1", device);
    Env().Comm.UseTCP = 0;
    Env().Comm.ComPort = 1;
}

class BoardTarget : public Target {
public:
    BoardTarget(bool rfc2217, const char *fault) {
        sim::BoardOptions options;
        options.hasModemLines = rfc2217;
        options.flashId = 0x01A4; // a chip the flash table erases first: every stage is run
        if (*fault) options.fault = sim::ParseBoardFault(fault).value();
        board_ = std::make_unique<sim::BoardPeer>(options);
        imageSize_ = rfc2217 ? ImageSize : PtyImageSize;
        if (rfc2217) {
            server_ = std::make_unique<sim::Rfc2217Server>(*board_);
            EXPECT_TRUE(server_->Start());
        } else {
            pty_ = std::make_unique<sim::PtyFrontEnd>(*board_);
            EXPECT_TRUE(pty_->Start());
        }
    }
    ~BoardTarget() override {
        if (server_) server_->Stop();
        if (pty_) pty_->Stop();
    }
    std::string Prepare(const fs::path &folder) override {
        UseComPort(server_ ? server_->Url() : pty_->SlavePath());
        Env().Comm.DetectProcessor = server_ ? 1 : 0;
        return WriteFile(folder / "image.bin", ImageBytes(imageSize_));
    }
    bool HoldsTheFile() const override {
        return board_->ReadFlash(0x80000, imageSize_) == ImageBytes(imageSize_);
    }
    size_t Answers() const override { return board_->CountEvents("reply"); }
    void GoAway() override {
        if (server_) server_->Stop();
        if (pty_) pty_->Stop();
    }

private:
    size_t imageSize_ = ImageSize;
    std::unique_ptr<sim::BoardPeer> board_;
    std::unique_ptr<sim::Rfc2217Server> server_;
    std::unique_ptr<sim::PtyFrontEnd> pty_;
};

class LinkTarget : public Target {
public:
    explicit LinkTarget(const char *fault) {
        sim::LinkOptions options = WithPassphrase("corvix");
        if (*fault) options.fault = sim::ParseLinkFault(fault).value();
        device_ = std::make_unique<sim::LinkDevice>(options);
        std::string why;
        EXPECT_TRUE(device_->Start(&why)) << why;
    }
    std::string Prepare(const fs::path &folder) override {
        Env().Comm.UseTCP = 1;
        Env().Comm.UseCorvixLink = 1;
        Env().Comm.UseCorvixSys = 0;
        SetField(Env().Comm.CorvixLinkAddress, "127.0.0.1");
        Env().Comm.CorvixLinkTcpPort = device_->Port();
        return WriteFile(folder / "image.bin", ImageBytes(ImageSize));
    }
    bool HoldsTheFile() const override {
        return device_->ReadFlash(0x80000, ImageSize) == ImageBytes(ImageSize);
    }
    size_t Answers() const override { return device_->CountEvents("reply"); }
    void GoAway() override { device_->Stop(); }

private:
    std::unique_ptr<sim::LinkDevice> device_;
};

// 512 blocks, the last one short: long enough for a target to go away in the middle of it.
const std::vector<uint8_t> ProgramData = upltest::Pattern(65000, 5);

std::string WriteProgram(const fs::path &folder) {
    Env().LoadThroughCorvixSys = 1;
    return WriteFile(folder / "program.upl", upltest::Builder().Add(0x20000, ProgramData).Bytes());
}

bool HoldsTheProgram(const sim::OsBoard &board) {
    // The last block goes whole, its tail zero.
    std::vector<uint8_t> padded = ProgramData;
    padded.resize((padded.size() + 127) / 128 * 128, 0);
    return board.ReadMemory(0x20000, padded.size()) == padded;
}

class ConsoleTarget : public Target {
public:
    explicit ConsoleTarget(const char *fault) : console_(StartConsole(fault)) {}
    std::string Prepare(const fs::path &folder) override {
        UseConsole(*console_);
        return WriteProgram(folder);
    }
    bool HoldsTheFile() const override { return HoldsTheProgram(console_->Board()); }
    size_t Answers() const override { return console_->Board().WritesStored(); }
    void GoAway() override { console_->Stop(); }

private:
    std::unique_ptr<sim::ConsoleServer> console_;
};

class OsSerialTarget : public Target {
public:
    OsSerialTarget() {
        sim::OsSerialOptions serial;
        serial.hasModemLines = false;
        serial.rate = static_cast<uint32_t>(Env().BiosBaudRate);
        board_ = std::make_unique<sim::OsBoardPeer>(serial);
        pty_ = std::make_unique<sim::PtyFrontEnd>(*board_);
        EXPECT_TRUE(pty_->Start());
    }
    ~OsSerialTarget() override { pty_->Stop(); }
    std::string Prepare(const fs::path &folder) override {
        UseComPort(pty_->SlavePath());
        return WriteProgram(folder);
    }
    bool HoldsTheFile() const override { return HoldsTheProgram(board_->Board()); }
    size_t Answers() const override { return board_->Board().WritesStored(); }
    void GoAway() override { pty_->Stop(); }

private:
    std::unique_ptr<sim::OsBoardPeer> board_;
    std::unique_ptr<sim::PtyFrontEnd> pty_;
};

std::unique_ptr<Target> MakeTarget(Road road, const char *fault) {
    switch (road) {
    case Road::SerialPty: return std::make_unique<BoardTarget>(false, fault);
    case Road::SerialRfc2217: return std::make_unique<BoardTarget>(true, fault);
    case Road::Link: return std::make_unique<LinkTarget>(fault);
    case Road::Console: return std::make_unique<ConsoleTarget>(fault);
    case Road::OsSerial: return std::make_unique<OsSerialTarget>();
    }
    return nullptr;
}

constexpr platform::UINT CancelClick = platform::WM_USER + 300;

// The progress window: its Cancel button is pressed as a chosen stage begins, and the click is
// handled by whichever wait of the engine runs next, as a real click would be.
class CancellingDisplay : public RecordingDisplay {
public:
    CancellingDisplay(platform::HWND window, const char *cancelAt)
        : RecordingDisplay(window), window_(window), cancelAt_(cancelAt) {}
    void SetStage(const std::string &text) override {
        RecordingDisplay::SetStage(text);
        if (cancelAt_ != nullptr && text == cancelAt_)
            platform::PostMessage(window_, CancelClick, 0, 0);
    }
    static platform::LRESULT Proc(platform::HWND, platform::UINT msg, platform::WPARAM,
                                  platform::LPARAM) {
        if (msg == CancelClick) TheLoaderEngine().CancelTransfer();
        return 0;
    }

private:
    platform::HWND window_;
    const char *cancelAt_;
};

class FaultMatrix : public WholeLoadTest, public ::testing::WithParamInterface<MatrixCase> {
protected:
    void SetUp() override {
        WholeLoadTest::SetUp();
        progressWindow = platform::CreateWindow(&CancellingDisplay::Proc);
        // Short waits, so that the silent cases end within seconds.
        Env().Comm.SerialResponseTimeout = 300;
        Env().Comm.SerialRetryCount = 1;
        Env().Comm.EthernetResponseTimeout = 500;
        Env().Comm.EthernetRetryCount = 1;
        Env().DiscoveryBroadcastAddress = "127.0.0.1";
        ProcessLoaderEngine().SetConsoleWait(500);
    }
    void TearDown() override {
        ProcessLoaderEngine().SetConsoleWait(0);
        platform::DestroyWindow(progressWindow);
        WholeLoadTest::TearDown();
    }

    int Load(const std::string &file, RecordingDisplay &display) {
        LoadSession session(file, Env(), TheLoaderEngine(), display,
                            [] { return KeyOfPassphrase("corvix"); });
        session.RunLoad();
        return session.Result;
    }

    std::string SettingsFile() const {
        const auto bytes = ReadFile(dir / "registry.reg");
        return {bytes.begin(), bytes.end()};
    }

    platform::HWND progressWindow = nullptr;
};

TEST_P(FaultMatrix, TellsTheUserReleasesEverythingAndTheNextLoadWorks) {
    const MatrixCase &c = GetParam();
    const Holdings before;
    {
        std::unique_ptr<Target> target = MakeTarget(c.road, c.fault);
        const std::string file = target->Prepare(dir);
        const std::string settings = SettingsFile();
        std::atomic<bool> loading{true};
        std::thread saboteur;
        if (c.disturbance == Disturbance::TargetGoesAway) {
            saboteur = std::thread([&] {
                const auto deadline = Clock::now() + 20s;
                while (loading && target->Answers() < 2 && Clock::now() < deadline)
                    std::this_thread::sleep_for(2ms);
                if (loading) target->GoAway();
            });
        }
        CancellingDisplay display(progressWindow,
                                  c.disturbance == Disturbance::CancelAtStage ? c.stage : nullptr);
        const auto start = Clock::now();
        const int result = Load(file, display);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        loading = false;
        if (saboteur.joinable()) saboteur.join();

        EXPECT_EQ(result, c.result) << (display.messages.empty() ? "" : display.messages[0].second);
        if (c.result == 0 || c.result == LoaderErrorCancelled) {
            EXPECT_TRUE(display.messages.empty()) << display.messages[0].second;
        } else {
            ASSERT_FALSE(display.messages.empty());
            EXPECT_EQ(display.messages[0].second, ErrorMessage(c.result));
        }
        if (c.result == 0) {
            EXPECT_TRUE(target->HoldsTheFile());
        }
        EXPECT_EQ(display.finished, 1);
        EXPECT_LT(seconds, c.maxSeconds);
        EXPECT_EQ(SettingsFile(), settings) << "the load changed the settings file";
        RecordProperty("seconds", std::to_string(seconds));
    }
    // Everything the load and the simulator held is given back once both are gone.
    const Holdings after;
    EXPECT_EQ(after.fds, before.fds) << "descriptors left open";
    EXPECT_EQ(after.threads, before.threads) << "threads left running";

    // The same process loads again, on the same road, without the fault.
    std::unique_ptr<Target> healthy = MakeTarget(c.road, "");
    const std::string file = healthy->Prepare(dir);
    RecordingDisplay display(progressWindow);
    EXPECT_EQ(Load(file, display), 0)
        << (display.messages.empty() ? "" : display.messages[0].second);
    EXPECT_TRUE(healthy->HoldsTheFile());
}

using D = Disturbance;
constexpr Road Pty = Road::SerialPty, Rfc = Road::SerialRfc2217, Link = Road::Link,
               Console = Road::Console, Os = Road::OsSerial;

const MatrixCase Cases[] = {
    // The serial bootstrap road, over a pseudo-terminal and over RFC 2217.
    {Pty, "silent", D::None, nullptr, LoaderErrorCommunication, 15},
    {Pty, "silent-after-pilot", D::None, nullptr, LoaderErrorTimeout, 15},
    {Pty, "drop-reply:3", D::None, nullptr, 0, 15},
    {Pty, "corrupt-reply:3", D::None, nullptr, 0, 15},
    {Pty, "nak-write:2", D::None, nullptr, LoaderErrorCommunication, 15},
    {Pty, "close:10", D::None, nullptr, LoaderErrorCommunication, 10},
    {Pty, "", D::TargetGoesAway, nullptr, LoaderErrorCommunication, 10},
    {Pty, "", D::CancelAtStage, "Sending Coldloader", LoaderErrorCancelled, 10},
    {Pty, "", D::CancelAtStage, "Sending Pilot BIOS", LoaderErrorCancelled, 10},
    {Pty, "", D::CancelAtStage, "Erasing flash", LoaderErrorCancelled, 10},
    {Pty, "", D::CancelAtStage, "Sending Program", LoaderErrorCancelled, 10},
    {Rfc, "silent", D::None, nullptr, LoaderErrorCommunication, 15},
    {Rfc, "silent-after-pilot", D::None, nullptr, LoaderErrorTimeout, 15},
    {Rfc, "drop-reply:3", D::None, nullptr, 0, 15},
    {Rfc, "corrupt-reply:3", D::None, nullptr, 0, 15},
    {Rfc, "nak-write:2", D::None, nullptr, LoaderErrorCommunication, 15},
    {Rfc, "close:10", D::None, nullptr, LoaderErrorCommunication, 10},
    {Rfc, "", D::TargetGoesAway, nullptr, LoaderErrorCommunication, 10},
    {Rfc, "", D::CancelAtStage, "Sending Coldloader", LoaderErrorCancelled, 10},
    {Rfc, "", D::CancelAtStage, "Sending Program", LoaderErrorCancelled, 10},
    // The network programming device.
    {Link, "silent", D::None, nullptr, LoaderErrorTimeout, 15},
    {Link, "stop-acks:2", D::None, nullptr, LoaderErrorTimeout, 15},
    {Link, "nak-write:2", D::None, nullptr, LoaderErrorCommunication, 15},
    {Link, "close:2", D::None, nullptr, LoaderErrorCommunication, 10},
    {Link, "stop-reading:2", D::None, nullptr, LoaderErrorTimeout, 15},
    {Link, "", D::TargetGoesAway, nullptr, LoaderErrorCommunication, 10},
    {Link, "", D::CancelAtStage, "Sending Coldloader", LoaderErrorCancelled, 10},
    {Link, "", D::CancelAtStage, "Sending Program", LoaderErrorCancelled, 10},
    // A board's CorvixSys: its console over TCP, and its serial line.
    {Console, "silent", D::None, nullptr, LoaderErrorConsoleLogin, 15},
    {Console, "refuse", D::None, nullptr, LoaderErrorConsoleRefused, 10},
    {Console, "bad-login", D::None, nullptr, LoaderErrorConsoleLoginRefused, 10},
    {Console, "no-os", D::None, nullptr, LoaderErrorCorvixSysAbsent, 15},
    {Console, "close:2", D::None, nullptr, LoaderErrorCommunication, 10},
    {Console, "", D::TargetGoesAway, nullptr, LoaderErrorCommunication, 10},
    {Console, "", D::CancelAtStage, "Sending Program", LoaderErrorCancelled, 10},
    {Os, "", D::TargetGoesAway, nullptr, LoaderErrorCommunication, 10},
    {Os, "", D::CancelAtStage, "Sending Program", LoaderErrorCancelled, 10},
};

INSTANTIATE_TEST_SUITE_P(Roads, FaultMatrix, ::testing::ValuesIn(Cases),
                         [](const ::testing::TestParamInfo<MatrixCase> &param) {
                             return CaseName(param.param);
                         });

} // namespace
