// The corvix-sim program as a user or a script starts it: asking for the usage is an answer, on
// standard output with status 0, while a command line it does not understand is refused on
// standard error with status 2 and the usage to go by.
#include "support/ProgramRun.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct Invocation {
    std::vector<std::string> arguments;
    // What the usage printed must show for this command (its own options, not another's).
    std::string shows;
};

std::string Spelled(const std::vector<std::string> &arguments) {
    std::string line = "corvix-sim";
    for (const std::string &argument : arguments) line += ' ' + argument;
    return line;
}

void PrintTo(const Invocation &invocation, std::ostream *out) {
    *out << Spelled(invocation.arguments);
}

programrun::Finished RunSim(const std::vector<std::string> &arguments,
                            const programrun::ScratchFolder &scratch) {
    // Every case ends at once; the bound only keeps a broken build from hanging the suite.
    return programrun::RunToEnd(programrun::BuiltProgram("corvix-sim"), arguments, scratch.Path(),
                                10s);
}

class SimHelp : public ::testing::TestWithParam<Invocation> {};

TEST_P(SimHelp, PrintsTheUsageOnStandardOutputAndEndsWithZero) {
    programrun::ScratchFolder scratch;
    ASSERT_TRUE(scratch.Made());
    const programrun::Finished run = RunSim(GetParam().arguments, scratch);
    EXPECT_EQ(run.status, 0) << Spelled(GetParam().arguments) << '\n' << run.errors;
    EXPECT_EQ(run.output.rfind("usage: corvix-sim ", 0), 0u) << run.output;
    EXPECT_NE(run.output.find(GetParam().shows), std::string::npos) << run.output;
    EXPECT_EQ(run.errors, "");
}

INSTANTIATE_TEST_SUITE_P(
    EveryCommand, SimHelp,
    ::testing::Values(Invocation{{"--help"}, "corvix-sim discovery [options]"},
                      Invocation{{"-h"}, "corvix-sim link [options]"},
                      Invocation{{"board", "--help"}, "--os-needs-wake"},
                      Invocation{{"board", "-h"}, "--flash-out FILE"},
                      Invocation{{"link", "--help"}, "--passphrase TEXT"},
                      Invocation{{"console", "--help"}, "--password TEXT"},
                      Invocation{{"discovery", "--help"}, "--control-port N"},
                      Invocation{{"packets", "--help"}, "--rule"},
                      // Help is asked before the checks of a command that would run.
                      Invocation{{"board", "--pty", "--rfc2217-port", "1", "--help"}, "--pty"},
                      Invocation{{"packets", "--pty", "--rfc2217-port", "1", "-h"}, "--pty"},
                      Invocation{{"link", "--port", "0", "--help", "--bogus"}, "--fault F"}),
    [](const ::testing::TestParamInfo<Invocation> &param) {
        std::string name;
        for (const std::string &argument : param.param.arguments)
            for (char c : argument)
                if (std::isalnum(static_cast<unsigned char>(c))) name += c;
        return name + "_" + std::to_string(param.index);
    });

class SimUsageError : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(SimUsageError, IsRefusedOnStandardErrorWithTwo) {
    programrun::ScratchFolder scratch;
    ASSERT_TRUE(scratch.Made());
    const programrun::Finished run = RunSim(GetParam(), scratch);
    EXPECT_EQ(run.status, 2) << Spelled(GetParam()) << '\n' << run.errors;
    EXPECT_EQ(run.output, "") << "nothing a script would take for an address";
    EXPECT_EQ(run.errors.rfind("corvix-sim: ", 0), 0u) << run.errors;
    EXPECT_NE(run.errors.find("usage: corvix-sim "), std::string::npos) << run.errors;
}

INSTANTIATE_TEST_SUITE_P(
    EveryCommand, SimUsageError,
    ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"bogus"},
                      std::vector<std::string>{"--bogus", "--help"},
                      std::vector<std::string>{"board", "--bogus", "--help"},
                      std::vector<std::string>{"board", "--pty", "--rfc2217-port", "1"},
                      std::vector<std::string>{"link", "--port"},
                      std::vector<std::string>{"console", "--fault", "loud"},
                      // "-h" is the value of --name here, so the bad port is what counts.
                      std::vector<std::string>{"discovery", "--name", "-h", "--port", "70000"},
                      std::vector<std::string>{"packets", "--rule", "1:2:maybe"}),
    [](const ::testing::TestParamInfo<std::vector<std::string>> &param) {
        return "case_" + std::to_string(param.index);
    });

} // namespace
