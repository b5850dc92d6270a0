// "corvix-sim board": its options, and one run from start to the files it leaves behind. Also
// the transcript and flash files on their own.
#include "BoardCommand.h"
#include "BoardSupport.h"
#include "FlashImage.h"
#include "Transcript.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace boardtest;
using namespace std::chrono_literals;

std::string ReadText(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/board-test-XXXXXX";
        path_ = ::mkdtemp(pattern) ? pattern : "";
    }
    ~TempDir() {
        std::error_code ignored; // a leftover in /tmp is not worth failing a test over
        std::filesystem::remove_all(path_, ignored);
    }
    std::filesystem::path operator/(const char *name) const {
        return std::filesystem::path(path_) / name;
    }

private:
    std::string path_;
};

// A short load over the announced port: reset pulse, the shortest cold loader and pilot BIOS,
// then an INFOPROBE and two writes, of which the fault refuses the first.
void LoadThroughCommand(const std::string &url) {
    auto port = OpenPort(url);
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(Configure(*port, 2400, true));
    ASSERT_TRUE(Configure(*port, 2400, false));
    ASSERT_TRUE(Write(*port, {0x80, 0x0E, 0x20, 0x80, 0x0E, 0x30, 0x80, 0x24, 0x80, // cold load
                              0x00, 0x40, 0x00, 0x00, 0x01, 0x00, 0x41, 0xCC}));    // pilot header
    EXPECT_EQ(ReadBytes(*port, 3, 5s), (Bytes{0x41, 0xCC, 0xCC}));
    Bytes requests = sim::EncodeFrame({0, sim::sys::InfoProbe, {}});
    for (const Bytes &data : {Bytes{0x11}, Bytes{0x22, 0x33}}) {
        const Bytes frame = sim::EncodeFrame({0, sim::sys::Write, WritePayload(0x80000, data)});
        requests.insert(requests.end(), frame.begin(), frame.end());
    }
    ASSERT_TRUE(Write(*port, requests));
    const auto frames = ReadFrames(*port, 3, 5s);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].payload[4] | frames[0].payload[5] << 8, 0x01A4);
    EXPECT_EQ(frames[1].subtype, 0x43) << "the first write is refused on request";
    EXPECT_EQ(frames[2].subtype, 0x83);
}

TEST(BoardArguments, ParsesEveryOption) {
    std::string error;
    auto parsed = sim::ParseBoardArguments({"--rfc2217-port", "4000", "--pace", "--flash-id",
                                            "01A4", "--baud-rates", "115200,921600",
                                            "--no-processor", "--fault", "corrupt-reply:7",
                                            "--transcript", "t.json", "--flash-out", "f.bin"},
                                           &error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_FALSE(parsed->pty);
    EXPECT_TRUE(parsed->pace);
    EXPECT_EQ(parsed->port, 4000);
    EXPECT_EQ(parsed->board.flashId, 0x01A4);
    EXPECT_EQ(parsed->board.baudRates, (std::vector<uint32_t>{115200, 921600}));
    EXPECT_TRUE(parsed->board.noProcessor);
    EXPECT_EQ(parsed->board.fault, (sim::BoardFault{sim::BoardFaultKind::CorruptReply, 7}));
    EXPECT_EQ(parsed->transcriptPath, "t.json");
    EXPECT_EQ(parsed->flashPath, "f.bin");
    EXPECT_TRUE(parsed->board.hasModemLines);

    parsed = sim::ParseBoardArguments({"--pty", "--flash-id", "0x20"}, &error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_FALSE(parsed->board.hasModemLines) << "a pseudo-terminal has no modem lines";
    EXPECT_EQ(parsed->board.flashId, 0x0020);
    EXPECT_EQ(parsed->board.baudRates, (std::vector<uint32_t>{115200, 230400, 460800}));
    EXPECT_EQ(parsed->board.fault.kind, sim::BoardFaultKind::None);
}

TEST(BoardArguments, RefusesWhatItDoesNotUnderstand) {
    const std::vector<std::vector<std::string>> bad{
        {"--pty", "--rfc2217-port", "1"},
        {"--rfc2217-port", "65536"},
        {"--rfc2217-port"},
        {"--flash-id", "12345"},
        {"--flash-id", "xyz"},
        {"--baud-rates", "1,,2"},
        {"--baud-rates", "0"},
        {"--fault", "close:0"},
        {"--fault", "drop-reply"},
        {"--fault", "silent:3"},
        {"--fault", "loud"},
        {"--transcript", ""},
        {"--verbose"},
    };
    for (const auto &options : bad) {
        std::string error;
        EXPECT_FALSE(sim::ParseBoardArguments(options, &error))
            << ::testing::PrintToString(options);
        EXPECT_FALSE(error.empty());
    }
    char program[] = "corvix-sim", board[] = "board", unknown[] = "--unknown";
    char *argv[] = {program, board, unknown, nullptr};
    EXPECT_EQ(sim::RunBoardCommand(3, argv), 2);
}

TEST(BoardCommand, ServesUntilStoppedThenWritesTranscriptAndFlashWindow) {
    TempDir dir;
    std::string error;
    auto arguments = sim::ParseBoardArguments({"--flash-id", "01a4", "--fault", "nak-write:1",
                                               "--transcript", (dir / "t.json").string(),
                                               "--flash-out", (dir / "f.bin").string()},
                                              &error);
    ASSERT_TRUE(arguments) << error;

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::FILE *announce = ::fdopen(fds[1], "w");
    ASSERT_NE(announce, nullptr);
    std::promise<void> stop;
    std::shared_future<void> stopped = stop.get_future().share();
    std::promise<int> status;
    std::future<int> result = status.get_future();
    std::thread runner([&] {
        status.set_value(
            sim::RunBoard(*arguments, announce, [stopped] { (void)stopped.wait_for(20s); }));
    });

    pollfd readable{fds[0], POLLIN, 0};
    char line[128] = "";
    const bool announced =
        ::poll(&readable, 1, 5000) == 1 && ::read(fds[0], line, sizeof line - 1) > 0;
    std::string url = line;
    if (!url.empty() && url.back() == '\n') url.pop_back();
    EXPECT_TRUE(announced);
    EXPECT_EQ(url.rfind("rfc2217://127.0.0.1:", 0), 0u) << url;

    if (announced) LoadThroughCommand(url);
    stop.set_value();
    ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
    runner.join();
    std::fclose(announce);
    ::close(fds[0]);
    EXPECT_EQ(result.get(), 0);

    const std::string flash = ReadText(dir / "f.bin");
    ASSERT_EQ(flash.size(), 0x80000u) << "the window 0x80000-0xFFFFF";
    EXPECT_EQ(Bytes(flash.begin(), flash.begin() + 3), (Bytes{0x22, 0x33, 0xFF}));
    const std::string json = ReadText(dir / "t.json");
    for (const char *expected :
         {"\"event\": \"dsr\"", "\"event\": \"pilot-header\"", "\"fault\": \"nak-write\"",
          "\"name\": \"INFOPROBE\"", "\"what\": \"dtr\"", "\"reason\": \"refused on request\""})
        EXPECT_NE(json.find(expected), std::string::npos) << expected;
}

TEST(BoardFiles, TranscriptIsValidJsonWithTimeStampsInOrder) {
    sim::Transcript transcript;
    const auto start = sim::SimClock::now();
    transcript.Record(sim::TranscriptEvent("first")
                          .Add("text", "quote \" slash \\ line\n\x01\xFF")
                          .Add("n", int64_t(-5)),
                      start + 1500us);
    transcript.Record(sim::TranscriptEvent("second").Add("ok", false).AddHex("id", 0xBF, 4),
                      start + 2ms);
    const std::string json = transcript.ToJson();
    EXPECT_NE(json.find(R"("text": "quote \" slash \\ line\n\u0001\u00ff")"), std::string::npos)
        << json;
    EXPECT_NE(json.find(R"("n": -5)"), std::string::npos);
    EXPECT_NE(json.find(R"("ok": false, "id": "0x00BF")"), std::string::npos) << json;
    const size_t first = json.find("\"first\""), second = json.find("\"second\"");
    ASSERT_NE(first, std::string::npos);
    ASSERT_NE(second, std::string::npos);
    EXPECT_LT(first, second);
    // Time stamps in milliseconds since the transcript began, three decimals.
    const size_t stamp = json.find("\"t_ms\": ");
    ASSERT_NE(stamp, std::string::npos);
    const double ms = std::stod(json.substr(stamp + 8));
    EXPECT_GE(ms, 1.5);
    EXPECT_LT(ms, 1000.0);
}

TEST(BoardFiles, FlashImageSavesARangeAndReportsFailures) {
    TempDir dir;
    sim::FlashImage flash;
    ASSERT_TRUE(flash.Write(0xFFFFE, Bytes{1, 2}.data(), 2));
    ASSERT_TRUE(flash.Save((dir / "tail.bin").string(), 0xFFFF0, 0x100000));
    const std::string saved = ReadText(dir / "tail.bin");
    ASSERT_EQ(saved.size(), 16u);
    EXPECT_EQ(uint8_t(saved[14]), 1);
    EXPECT_EQ(uint8_t(saved[15]), 2);

    std::string error;
    EXPECT_FALSE(flash.Save((dir / "no-such-dir" / "f.bin").string(), 0, 16, &error));
    EXPECT_NE(error.find("no-such-dir"), std::string::npos) << error;
}

} // namespace
