// Every failure a user meets first, through the real tarnwick-cli against simulated boards and
// devices on 127.0.0.1: the first line is the fixed message, the next names what failed and why.
#include "CliTestSupport.h"

#include "BoardPeer.h"
#include "LinkDevice.h"
#include "support/LinkOptions.h"
#include "Rfc2217Server.h"
#include "loader/LoaderErrors.h"
#include "platform/Socket.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A TCP port on 127.0.0.1 that nothing listens on: bound, read back, and let go again.
uint16_t UnusedPort() {
    platform::Socket socket = platform::Socket::Tcp(nullptr);
    if (!socket.Valid() || socket.Bind(*platform::ParseIpv4("127.0.0.1"), 0) != 0) return 0;
    return socket.LocalPort();
}

std::string Loopback(uint16_t port) { return "127.0.0.1:" + std::to_string(port); }

class CliFailureDetailTest;

struct DetailCase {
    const char *name;
    int32_t code; // the LoaderError the load ends with, and its exit status
    // The load's arguments after "load"; may start servers the fixture keeps.
    std::function<std::vector<std::string>(CliFailureDetailTest &)> arguments;
    std::vector<std::string> detailParts; // each must be in the detail line
};

class CliFailureDetailTest : public CliTest, public ::testing::WithParamInterface<DetailCase> {
public:
    fs::path Folder() const { return dir; }
    fs::path Image(size_t size) {
        const fs::path path = dir / "image.bin";
        std::ofstream(path, std::ios::binary) << std::string(size, '\x5a');
        return path;
    }
    // A simulated board behind its own RFC 2217 port.
    std::string ServeBoard(sim::BoardOptions options) {
        board = std::make_unique<sim::BoardPeer>(options);
        server = std::make_unique<sim::Rfc2217Server>(*board);
        std::string why;
        EXPECT_TRUE(server->Start(&why)) << why;
        return server->Url();
    }
    std::string ServeLink(sim::LinkOptions options) {
        link = std::make_unique<sim::LinkDevice>(options);
        std::string why;
        EXPECT_TRUE(link->Start(&why)) << why;
        return Loopback(link->Port());
    }

    std::unique_ptr<sim::BoardPeer> board;
    std::unique_ptr<sim::Rfc2217Server> server;
    std::unique_ptr<sim::LinkDevice> link;
};

TEST_P(CliFailureDetailTest, SaysWhatFailedAndWhatToCheck) {
    const DetailCase &c = GetParam();
    const fs::path registry = dir / "registry.reg";
    WriteTestRegistry(registry, {});
    std::vector<std::string> arguments = {"load"};
    for (std::string &argument : c.arguments(*this)) arguments.push_back(std::move(argument));
    ASSERT_FALSE(HasFailure());

    const Outcome outcome = Run(registry, arguments);

    EXPECT_EQ(outcome.status, c.code) << outcome.errors;
    const std::string firstLine = std::string("Error: ") + ErrorMessage(c.code) + "\n  ";
    const size_t at = outcome.errors.find(firstLine);
    ASSERT_NE(at, std::string::npos) << outcome.errors;
    const size_t detailStart = at + firstLine.size();
    const std::string detail =
        outcome.errors.substr(detailStart, outcome.errors.find('\n', detailStart) - detailStart);
    for (const std::string &part : c.detailParts) {
        EXPECT_NE(detail.find(part), std::string::npos) << "\"" << part << "\" in: " << detail;
    }
}

std::vector<std::string> WithImage(CliFailureDetailTest &test, std::vector<std::string> options) {
    options.push_back(test.Image(1024).string());
    return options;
}

INSTANTIATE_TEST_SUITE_P(
    Failures, CliFailureDetailTest,
    ::testing::Values(
        DetailCase{"SerialServerNotListening",
                   LoaderErrorSerialOpen,
                   [](CliFailureDetailTest &test) {
                       return WithImage(test, {"--port", "rfc2217://" + Loopback(UnusedPort())});
                   },
                   {"rfc2217://127.0.0.1:", "Connection refused", "listening"}},
        DetailCase{"SerialDeviceMissing",
                   LoaderErrorSerialOpen,
                   [](CliFailureDetailTest &test) {
                       return WithImage(test, {"--port", "/dev/ttyTarnwickNone7"});
                   },
                   {"(/dev/ttyTarnwickNone7)", "No such file or directory", "plugged in"}},
        DetailCase{"NetworkNothingListening",
                   LoaderErrorCommunication,
                   [](CliFailureDetailTest &test) {
                       return WithImage(test, {"--tcp", Loopback(UnusedPort())});
                   },
                   {"127.0.0.1:", "refused", "nothing listens"}},
        DetailCase{
            "NetworkPassphraseNotGiven",
            LoaderErrorCommunication,
            [](CliFailureDetailTest &test) {
                return WithImage(test, {"--tcp", test.ServeLink(WithPassphrase("open sesame"))});
            },
            {"127.0.0.1:", "refused the passphrase", "TARNWICK_PASSPHRASE"}},
        DetailCase{"ImageMissing",
                   LoaderErrorProgramOpen,
                   [](CliFailureDetailTest &test) {
                       return std::vector<std::string>{(test.Folder() / "none.bin").string()};
                   },
                   {"none.bin", "No such file or directory"}},
        DetailCase{"ImageIsAFolder",
                   LoaderErrorProgramOpen,
                   [](CliFailureDetailTest &test) {
                       return std::vector<std::string>{test.Folder().string()};
                   },
                   {"is a folder"}},
        DetailCase{"ImageTooLarge",
                   LoaderErrorProgramTooLarge,
                   [](CliFailureDetailTest &test) {
                       return std::vector<std::string>{"--port", test.ServeBoard({}),
                                                       test.Image(5'000'000).string()};
                   },
                   {"image.bin", "5000000 bytes", "at most 524288 bytes"}},
        DetailCase{"BoardSilentAfterThePilotBios",
                   LoaderErrorTimeout,
                   [](CliFailureDetailTest &test) {
                       sim::BoardOptions options;
                       options.fault = *sim::ParseBoardFault("silent-after-pilot");
                       return WithImage(test, {"--port", test.ServeBoard(options)});
                   },
                   {"COM", "rfc2217://127.0.0.1:", "no answer to SYS/", "tries"}}),
    [](const ::testing::TestParamInfo<DetailCase> &param) { return param.param.name; });

} // namespace
