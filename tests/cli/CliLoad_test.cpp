// tarnwick-cli as a user runs it: a real process loading through the simulated network device on
// 127.0.0.1, interrupted with SIGINT while the device has stopped reading, and showing the
// board's text message on its standard error while the load goes on.
#include "CliTestSupport.h"
#include "LinkDevice.h"
#include "platform/Md5.h"
#include "support/LinkOptions.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class CliLoadTest : public CliTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(CliTest::SetUp());
        image.resize(256 * 1024);
        for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7);
        std::ofstream(dir / "image.bin", std::ios::binary)
            .write(reinterpret_cast<const char *>(image.data()), std::streamsize(image.size()));
    }
    void TearDown() override {
        device.reset();
        CliTest::TearDown();
    }
    // Starts the device and writes the registry that takes tarnwick-cli to it.
    void StartDevice(sim::LinkOptions options) {
        device = std::make_unique<sim::LinkDevice>(std::move(options));
        std::string why;
        ASSERT_TRUE(device->Start(&why)) << why;
        WriteTestRegistry(dir / "registry.reg",
                          {"\"UseTCP\"=dword:00000001", "\"UseCorvixLink\"=dword:00000001",
                           "\"UseCorvixSys\"=dword:00000000",
                           "\"CorvixLink Address\"=\"127.0.0.1\"",
                           "\"CorvixLink TCP Port\"=" + DwordText(device->Port()),
                           "\"Ethernet Response Timeout\"=dword:00002710"});
    }
    // Waits until the device has stopped reading; false if it never did.
    bool DeviceStoppedReading() const {
        for (int i = 0; i < 2000; ++i) {
            for (const sim::TranscriptEvent &event : device->Events())
                if (event.Name() == "fault") return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }

    std::vector<uint8_t> image;
    std::unique_ptr<sim::LinkDevice> device;
};

TEST_F(CliLoadTest, InterruptWhileTheDeviceStoppedReadingEndsWithTwentySoon) {
    ASSERT_NO_FATAL_FAILURE(StartDevice(WithFault(sim::LinkFaultKind::StopReading, 1)));
    CliProcess cli(dir / "registry.reg", {"load", (dir / "image.bin").string()});
    ASSERT_TRUE(cli.Started());
    ASSERT_TRUE(DeviceStoppedReading());
    std::this_thread::sleep_for(200ms);
    const auto sent = Clock::now();
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(5000ms), 20);
    EXPECT_LT(Clock::now() - sent, 3s);
}

TEST_F(CliLoadTest, BoardTextMessageAppearsWholeOnStandardErrorAndTheLoadSucceeds) {
    ASSERT_NO_FATAL_FAILURE(StartDevice(WithTextAfterWrites(3, "Flash voltage low")));
    const fs::path errors = dir / "stderr.txt";
    CliProcess cli(dir / "registry.reg", {"load", (dir / "image.bin").string()}, errors);
    ASSERT_TRUE(cli.Started());
    const int status = cli.Wait(120s);
    std::ifstream in(errors);
    const std::string said{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(status, 0) << said;

    std::vector<std::string> shown;
    std::istringstream lines(said);
    for (std::string line; std::getline(lines, line);)
        if (line.find("Flash vol") != std::string::npos) shown.push_back(line);
    ASSERT_EQ(shown.size(), 1u) << "the message once, on a line of its own:\n" << said;
    const std::string text = "Flash voltage low";
    EXPECT_EQ(shown[0].substr(shown[0].size() - std::min(shown[0].size(), text.size())), text)
        << shown[0];
    EXPECT_EQ(device->CountEvents("text-message"), 1u);
    EXPECT_EQ(device->ReadFlash(0x80000, image.size()), image);
}

TEST_F(CliLoadTest, JsonLinesCarryStagesProgressTheBoardsTextAndTheResult) {
    // A board text with a line feed and an escape: JSON carries them as escapes, never raw.
    ASSERT_NO_FATAL_FAILURE(StartDevice(WithTextAfterWrites(3, "Flash\nvoltage \x1b[1mlow")));
    const Outcome outcome =
        Run(dir / "registry.reg", {"load", "--json", (dir / "image.bin").string()});
    ASSERT_EQ(outcome.status, 0) << outcome.errors;
    EXPECT_EQ(outcome.errors, "") << "with --json only standard output speaks";

    std::vector<nlohmann::json> events;
    std::istringstream lines(outcome.output);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
        events.push_back(nlohmann::json::parse(line)); // throws, and fails the test, if not JSON
    }
    ASSERT_FALSE(events.empty());
    size_t stages = 0, progress = 0, messages = 0;
    for (const nlohmann::json &event : events) {
        const std::string kind = event.at("event");
        if (kind == "stage") ++stages;
        if (kind == "progress") ++progress;
        if (kind == "message" && event.at("text") == "Flash\nvoltage \x1b[1mlow") ++messages;
    }
    EXPECT_GT(stages, 0u);
    EXPECT_GT(progress, 0u);
    EXPECT_EQ(messages, 1u);
    const nlohmann::json &result = events.back();
    EXPECT_EQ(result.at("event"), "result");
    EXPECT_EQ(result.at("code"), 0);
    EXPECT_EQ(result.at("road"), "CorvixLink");
    EXPECT_EQ(result.at("image_bytes"), image.size());
    EXPECT_EQ(result.at("md5"), platform::HexDigest(platform::Md5(image.data(), image.size())));
    EXPECT_EQ(device->ReadFlash(0x80000, image.size()), image);
}

TEST_F(CliLoadTest, TcpOptionTakesTheLoadToADeviceTheSettingsDoNotName) {
    ASSERT_NO_FATAL_FAILURE(StartDevice({}));
    // The settings name the serial road on COM1; the option alone leads to the device.
    const fs::path registry = dir / "registry.reg";
    WriteTestRegistry(registry, {"\"Ethernet Response Timeout\"=dword:00002710"});
    const std::string before = ReadWholeFile(registry);
    const Outcome outcome =
        Run(registry, {"load", "--tcp", "127.0.0.1:" + std::to_string(device->Port()), "--device",
                       "corvixlink", (dir / "image.bin").string()});
    EXPECT_EQ(outcome.status, 0) << outcome.errors;
    EXPECT_EQ(device->ReadFlash(0x80000, image.size()), image);
    EXPECT_EQ(ReadWholeFile(registry), before);
}

} // namespace
