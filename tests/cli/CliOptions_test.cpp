// tarnwick-cli's command line as a script meets it: help and version for the program and every
// command, and usage errors that stop before any settings are read or any board is touched.
#include "CliTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int ExitUsage = 64;

struct ArgumentsCase {
    std::vector<std::string> arguments;
    std::string expected; // a text the relevant output must hold
};

std::string Joined(const std::vector<std::string> &arguments) {
    std::string text;
    for (const std::string &argument : arguments) text += (text.empty() ? "" : " ") + argument;
    return text;
}

class CliOptionsTest : public CliTest {
protected:
    fs::path Registry() const { return dir / "registry.reg"; }
};

TEST_F(CliOptionsTest, HelpAndVersionPrintOnStandardOutputAndExitZero) {
    const std::vector<ArgumentsCase> cases = {
        {{"--help"}, "Exit status:"},
        {{"-h"}, "settings"},
        {{"--version"}, "Tarnwick 3.02\n"},
        // A load is never tried: a file named --help does not exist, and its error would show.
        {{"load", "--help"}, "--port"},
        {{"load", "-h", "image.bin"}, "--tcp"},
        {{"discover", "--help"}, "--seconds"},
        {{"settings", "--help"}, "set-port"},
        {{"settings", "get", "--help"}, "NAME"},
        {{"settings", "set", "-h"}, "VALUE"},
        {{"settings", "set-port", "--help"}, "DEVICE"},
    };
    for (const ArgumentsCase &c : cases) {
        SCOPED_TRACE(Joined(c.arguments));
        const Outcome outcome = Run(Registry(), c.arguments);
        EXPECT_EQ(outcome.status, 0) << outcome.errors;
        EXPECT_NE(outcome.output.find(c.expected), std::string::npos) << outcome.output;
        EXPECT_EQ(outcome.errors, "");
    }
    EXPECT_FALSE(fs::exists(Registry())); // nothing was read, let alone written
}

TEST_F(CliOptionsTest, TopLevelHelpListsTheExitStatuses) {
    const Outcome outcome = Run(Registry(), {"--help"});
    for (const char *row : {"  0 ", "  1-54 ", "  64 ", "  130 "}) {
        EXPECT_NE(outcome.output.find(row), std::string::npos) << row << "\n" << outcome.output;
    }
}

TEST_F(CliOptionsTest, UsageErrorsExitWithSixtyFourAndSayWhatIsWrong) {
    const std::vector<ArgumentsCase> cases = {
        {{}, "subcommand"},
        {{"flash", "image.bin"}, "flash"},
        {{"load"}, "FILE"},
        {{"load", "a.bin", "b.bin"}, "b.bin"},
        {{"load", "--port", "COM1", "--tcp", "127.0.0.1:4244", "x.bin"}, "excludes"},
        {{"load", "--baud", "9600", "x.bin"}, "57600, 115200, 230400, 460800"},
        {{"load", "--baud", "fast", "x.bin"}, "no download rate"},
        {{"load", "--port", "COM0", "x.bin"}, "\"COM0\" is no port"},
        {{"load", "--port", "COM257", "x.bin"}, "from 1 to 256"},
        {{"load", "--port", "ttyUSB0", "x.bin"}, "is no port"},
        {{"load", "--port", "rfc2217://board:4000", "x.bin"}, "is no port"},
        {{"load", "--port", "rfc2217://127.0.0.1:70000", "x.bin"}, "is no port"},
        {{"load", "--tcp", "127.0.0.1:0", "x.bin"}, "1 to 65535"},
        {{"load", "--tcp", "127.0.0.1", "x.bin"}, "ADDRESS:PORT"},
        {{"load", "--tcp", "0127.0000.0000.0001:4244", "x.bin"}, "no network device"},
        {{"load", "--tcp", "corvix.local:4244", "x.bin"}, "no network device"},
        {{"load", "--device", "corvixsys", "x.bin"}, "--tcp"},
        {{"load", "--tcp", "127.0.0.1:4244", "--device", "corvixpro", "x.bin"}, "corvixpro"},
        {{"load", "-q", "-v", "x.bin"}, "excludes"},
        {{"load", "--registry", "x.bin"}, "FILE"},
        {{"discover", "--seconds", "0"}, "--seconds"},
        {{"discover", "extra"}, "extra"},
        {{"settings", "get"}, "NAME"},
        {{"settings", "get", "No Such Setting"}, "unknown setting \"No Such Setting\""},
        {{"settings", "set", "Com Port"}, "VALUE"},
        {{"settings", "unset", "Com Port"}, "unset"},
    };
    for (const ArgumentsCase &c : cases) {
        SCOPED_TRACE(Joined(c.arguments));
        const Outcome outcome = Run(Registry(), c.arguments);
        EXPECT_EQ(outcome.status, ExitUsage);
        EXPECT_NE(outcome.errors.find(c.expected), std::string::npos) << outcome.errors;
        EXPECT_EQ(outcome.output, "");
    }
    EXPECT_FALSE(fs::exists(Registry()));
}

} // namespace
