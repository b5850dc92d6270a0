// tarnwick-cli on a production line: each load given its own port, rate, registry and log on the
// command line, against simulated boards behind RFC 2217 ports on 127.0.0.1. What the options
// choose holds for the run only; the registry file is never written.
#include "CliTestSupport.h"

#include "BoardPeer.h"
#include "Rfc2217Server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr uint32_t ImageBase = 0x80000;

// A simulated board on its own RFC 2217 port.
struct Station {
    sim::BoardPeer board;
    sim::Rfc2217Server server{board};
};

class CliBoardsTest : public CliTest {
protected:
    // A station serving, or a failed assertion.
    std::unique_ptr<Station> StartStation() {
        auto station = std::make_unique<Station>();
        std::string why;
        EXPECT_TRUE(station->server.Start(&why)) << why;
        return station;
    }
    // An image of size bytes whose content depends on seed, so two boards' images differ.
    fs::path WriteImage(const std::string &name, size_t size, uint8_t seed) {
        std::vector<uint8_t> bytes(size);
        for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 13 + seed);
        images[name] = bytes;
        const fs::path path = dir / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(size));
        return path;
    }
    // The arguments of one production-line load.
    static std::vector<std::string> LoadArguments(const Station &station, const fs::path &registry,
                                                  const fs::path &log, const fs::path &image) {
        return {"load",  "--port",     station.server.Url(), "--registry", registry.string(),
                "--log", log.string(), image.string()};
    }
    std::map<std::string, std::vector<uint8_t>> images;
};

TEST_F(CliBoardsTest, OptionsChooseRoadRateAndLogForTheRunAndTheRegistryStaysUnchanged) {
    std::unique_ptr<Station> station = StartStation();
    ASSERT_FALSE(HasFailure());
    // The settings point elsewhere: the network road, COM5, the fastest rate, no log.
    const fs::path registry = dir / "registry.reg";
    WriteTestRegistry(
        registry, {"\"UseTCP\"=dword:00000001", "\"UseCorvixLink\"=dword:00000001",
                   "\"CorvixLink Address\"=\"127.0.0.1\"", "\"CorvixLink TCP Port\"=dword:00000009",
                   "\"Com Port\"=dword:00000005", "\"Max Negotiated Baud\"=" + DwordText(460800),
                   "\"Enable TC Logging\"=dword:00000000"});
    const std::string before = ReadWholeFile(registry);
    const fs::path image = WriteImage("image.bin", 8 * 1024, 1);
    const fs::path log = dir / "station.log";

    std::vector<std::string> arguments = LoadArguments(*station, registry, log, image);
    arguments.insert(arguments.begin() + 1, {"--baud", "115200", "-q"});
    // The environment names another file: --registry must win over it.
    const Outcome outcome = Run(dir / "other.reg", arguments);

    ASSERT_EQ(outcome.status, 0) << outcome.errors;
    EXPECT_EQ(station->board.ReadFlash(ImageBase, images["image.bin"].size()), images["image.bin"]);
    EXPECT_EQ(ReadWholeFile(registry), before);
    EXPECT_FALSE(fs::exists(dir / "other.reg"));
    EXPECT_NE(ReadWholeFile(log).find("COM5 opened"), std::string::npos);
    // The board was never asked for more than --baud allowed, and ran the download at it.
    std::vector<int64_t> rates;
    for (const sim::TranscriptEvent &event : station->board.Events())
        if (event.Name() == "board-rate") rates.push_back(event.Number("rate").value_or(0));
    ASSERT_FALSE(rates.empty());
    EXPECT_EQ(*std::max_element(rates.begin(), rates.end()), 115200);
    // Nothing beside what the test made: no temporary or backup copy of the registry.
    std::vector<std::string> names;
    for (const fs::directory_entry &entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"image.bin", "registry.reg", "station.log"}));
}

TEST_F(CliBoardsTest, TwoBoardsLoadAtTheSameTimeEachWithItsOwnPortRegistryAndLog) {
    std::unique_ptr<Station> first = StartStation();
    std::unique_ptr<Station> second = StartStation();
    ASSERT_FALSE(HasFailure());
    const fs::path registries[] = {dir / "first.reg", dir / "second.reg"};
    for (const fs::path &registry : registries) WriteTestRegistry(registry, {});
    const fs::path firstImage = WriteImage("first.bin", 24 * 1024, 1);
    const fs::path secondImage = WriteImage("second.bin", 24 * 1024, 2);
    const fs::path firstLog = dir / "first.log";
    const fs::path secondLog = dir / "second.log";

    // Both start before either ends; each load takes seconds, so the two overlap.
    CliProcess firstLoad(registries[0], LoadArguments(*first, registries[0], firstLog, firstImage),
                         dir / "first.err");
    CliProcess secondLoad(registries[1],
                          LoadArguments(*second, registries[1], secondLog, secondImage),
                          dir / "second.err");
    ASSERT_TRUE(firstLoad.Started() && secondLoad.Started());
    EXPECT_TRUE(first->server.WaitForClient(20s));
    EXPECT_TRUE(second->server.WaitForClient(20s));
    const int firstStatus = firstLoad.Wait(120s);
    const int secondStatus = secondLoad.Wait(120s);

    EXPECT_EQ(firstStatus, 0) << ReadWholeFile(dir / "first.err");
    EXPECT_EQ(secondStatus, 0) << ReadWholeFile(dir / "second.err");
    EXPECT_EQ(first->board.ReadFlash(ImageBase, images["first.bin"].size()), images["first.bin"]);
    EXPECT_EQ(second->board.ReadFlash(ImageBase, images["second.bin"].size()),
              images["second.bin"]);
    for (const fs::path &log : {firstLog, secondLog}) {
        const std::string text = ReadWholeFile(log);
        EXPECT_NE(text.find(" COM1 opened\r\n"), std::string::npos) << log;
        EXPECT_NE(text.find(" port closed \r\n"), std::string::npos) << log;
    }
}

} // namespace
