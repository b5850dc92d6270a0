// "corvix-sim console": its options, and one whole run from the announced address to the files it
// leaves behind, with the sample user program loaded the way a host loads one over the console.
#include "BoardPilotBios.h"
#include "BoardSupport.h"
#include "ConsoleCommand.h"
#include "ConsoleSupport.h"
#include "WireBytes.h"

#include "platform/Md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <unistd.h>

namespace {

using consoletest::ConsoleClient;
using consoletest::WritePayload;
using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

struct Record {
    uint32_t address;
    Bytes data;
};

// The records of a user program, checked against its header's total length and digest.
std::vector<Record> ReadUserProgram(const Bytes &file) {
    std::vector<Record> records;
    if (file.size() < 28) {
        ADD_FAILURE() << "no header";
        return records;
    }
    const uint32_t total = sim::Le32(file, 4);
    platform::Md5Context digest;
    size_t offset = 28, sum = 0;
    while (sum < total && offset + 8 <= file.size()) {
        const uint32_t length = sim::Le32(file, offset + 4);
        if (length < 8 || offset + length > file.size()) {
            ADD_FAILURE() << "record at " << offset << " does not fit";
            break;
        }
        Record record{sim::Le32(file, offset),
                      Bytes(file.begin() + long(offset + 8), file.begin() + long(offset + length))};
        digest.Update(record.data.data(), record.data.size());
        records.push_back(std::move(record));
        offset += length;
        sum += length;
    }
    EXPECT_EQ(sum, total);
    const platform::Md5Digest md5 = digest.Final();
    EXPECT_TRUE(std::equal(md5.begin(), md5.end(), file.begin() + 12)) << "digest";
    return records;
}

// A record as the host sends it: whole blocks of 128 bytes, the last one padded with zeros.
Bytes Padded(const Bytes &data) {
    Bytes padded = data;
    padded.resize((data.size() + 127) / 128 * 128, 0);
    return padded;
}

Bytes ReadFile(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ---- options ----

struct OptionsCase {
    std::vector<std::string> options;
    bool accepted;
};

class ConsoleCommandOptions : public testing::TestWithParam<OptionsCase> {};

TEST_P(ConsoleCommandOptions, AreTakenOrRefused) {
    std::string error;
    const auto arguments = sim::ParseConsoleArguments(GetParam().options, &error);
    EXPECT_EQ(arguments.has_value(), GetParam().accepted) << error;
    if (!GetParam().accepted) {
        EXPECT_FALSE(error.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Console, ConsoleCommandOptions,
    testing::Values(OptionsCase{{}, true},
                    OptionsCase{{"--port", "65023", "--user", "op", "--password", ""}, true},
                    OptionsCase{{"--fault", "close:2", "--memory-out", "m.bin"}, true},
                    OptionsCase{{"--port", "65536"}, false},
                    OptionsCase{{"--user", "two\r\nlines"}, false},
                    OptionsCase{{"--password", std::string(300, 'x')}, false},
                    OptionsCase{{"--fault", "close"}, false},
                    OptionsCase{{"--memory-out", ""}, false},
                    OptionsCase{{"--flash-out", "f.bin"}, false}),
    [](const testing::TestParamInfo<OptionsCase> &param) {
        // Stable names: ctest lists the cases at build time and runs them by name later.
        return std::string(param.param.accepted ? "Accepted" : "Refused") +
               std::to_string(param.index);
    });

TEST(ConsoleCommandOptions, CarryUserPasswordAndFault) {
    const auto arguments = sim::ParseConsoleArguments(
        {"--user", "op", "--password", "pw", "--fault", "bad-login"}, nullptr);
    ASSERT_TRUE(arguments);
    EXPECT_EQ(arguments->console.user, "op");
    EXPECT_EQ(arguments->console.password, "pw");
    EXPECT_EQ(arguments->console.fault.kind, sim::ConsoleFaultKind::BadLogin);
}

// ---- one run ----

TEST(ConsoleCommand, LoadsTheSampleProgramAndWritesMemoryAndTranscript) {
    char pattern[] = "/tmp/console-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::filesystem::path dir = pattern;
    struct Cleanup {
        std::filesystem::path dir;
        ~Cleanup() {
            std::error_code ignored; // a leftover in /tmp is not worth failing a test over
            std::filesystem::remove_all(dir, ignored);
        }
    } cleanup{dir};

    const std::vector<Record> records = ReadUserProgram(boardtest::ReadSample("demo-program.upl"));
    ASSERT_FALSE(records.empty());

    sim::ConsoleArguments arguments;
    arguments.transcriptPath = dir / "transcript.json";
    arguments.memoryPath = dir / "memory.bin";
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> out(std::tmpfile(), &std::fclose);
    ASSERT_TRUE(out);

    // The command announces its address, then calls this while it serves.
    auto load = [&] {
        std::rewind(out.get());
        char line[64] = {};
        ASSERT_NE(std::fgets(line, sizeof line, out.get()), nullptr);
        const std::string address = line;
        ASSERT_EQ(address.rfind("127.0.0.1:", 0), 0u) << address;
        const uint16_t port = uint16_t(std::stoul(address.substr(10)));
        {
            ConsoleClient transfer(port);
            ASSERT_TRUE(transfer.EnterTargetMode());
            const auto probe = transfer.Ask(sim::sys::Probe, {});
            ASSERT_TRUE(probe);
            for (const Record &record : records) {
                const Bytes blocks = Padded(record.data);
                for (size_t k = 0; k < blocks.size(); k += 128) {
                    const Bytes block(blocks.begin() + long(k), blocks.begin() + long(k + 128));
                    const auto reply = transfer.Ask(
                        sim::sys::Write, WritePayload(record.address + uint32_t(k), block));
                    ASSERT_TRUE(reply);
                    ASSERT_EQ(reply->subtype, sim::sys::AckBit | sim::sys::Write);
                }
            }
        }
        ConsoleClient start(port);
        ASSERT_FALSE(
            start.Login(sim::ConsoleOptions::DefaultUser, sim::ConsoleOptions::DefaultPassword)
                .empty());
        start.ReadText(sim::console::Prompt.size());
        ASSERT_TRUE(start.SendLine(std::string(sim::console::AppGo)));
        start.ReadText(std::string("200 app\r\nCON:").size());
        ASSERT_TRUE(start.SendLine(std::string(sim::console::Logout)));
        EXPECT_TRUE(start.ClosedWithin(3s));
    };
    ASSERT_EQ(sim::RunConsole(arguments, out.get(), load), 0);

    // The memory holds each record padded to whole blocks, as records of the same layout.
    Bytes expected;
    for (const Record &record : records) {
        const Bytes padded = Padded(record.data);
        sim::PutLe32(expected, record.address);
        sim::PutLe32(expected, uint32_t(padded.size() + 8));
        expected.insert(expected.end(), padded.begin(), padded.end());
    }
    EXPECT_EQ(ReadFile(arguments.memoryPath), expected);
    const Bytes transcript = ReadFile(arguments.transcriptPath);
    const std::string json(transcript.begin(), transcript.end());
    EXPECT_NE(json.find("\"app-go\""), std::string::npos);
    EXPECT_NE(json.find("\"passthrough\""), std::string::npos);
}

} // namespace
