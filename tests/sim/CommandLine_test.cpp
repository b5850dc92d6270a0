// The option parser, argv handling and signal wait that the corvix-sim commands share.
#include "CommandLine.h"

#include <gtest/gtest.h>

#include <pthread.h>

namespace {

struct Seen {
    bool help = false;
    bool quiet = false;
    std::string name;
    std::string path;
    std::pair<std::string, std::string> range;
    std::vector<std::string> order;
};

sim::OptionParser ParserFor(Seen &seen) {
    sim::OptionParser parser(seen.help);
    parser
        .Flag("--quiet",
              [&] {
                  seen.quiet = true;
                  seen.order.push_back("--quiet");
              })
        .Value("--name",
               [&](const std::string &value) {
                   seen.name = value;
                   seen.order.push_back("--name");
                   return value != "refused";
               })
        .Path("--out", seen.path)
        .Pair("--range", [&](const std::string &from, const std::string &to) {
            seen.range = {from, to};
            seen.order.push_back("--range");
            return from <= to;
        });
    return parser;
}

TEST(OptionParser, AppliesFlagsAndValuesInTheOrderGiven) {
    Seen seen;
    std::string error;
    ASSERT_TRUE(ParserFor(seen).Parse(
        {"--name", "a", "--quiet", "--range", "1", "5", "--out", "f.bin", "--name", "b"}, &error))
        << error;
    EXPECT_TRUE(seen.quiet);
    EXPECT_EQ(seen.name, "b") << "the last of a repeated option wins";
    EXPECT_EQ(seen.path, "f.bin");
    EXPECT_EQ(seen.range, (std::pair<std::string, std::string>{"1", "5"}));
    EXPECT_EQ(seen.order, (std::vector<std::string>{"--name", "--quiet", "--range", "--name"}));
    EXPECT_TRUE(error.empty());
}

TEST(OptionParser, TakesTheNextWordAsTheValueWhateverItLooksLike) {
    Seen seen;
    ASSERT_TRUE(ParserFor(seen).Parse({"--name", "--quiet", "--out", "-h"}, nullptr));
    EXPECT_EQ(seen.name, "--quiet");
    EXPECT_EQ(seen.path, "-h");
    EXPECT_FALSE(seen.quiet);
    EXPECT_FALSE(seen.help) << "a value that reads \"-h\" asks for no usage";
}

// "--help" and "-h" where an option may stand end the parse as an answer of their own: what came
// before is applied, what follows is not looked at, and neither is a refusal.
TEST(OptionParser, HelpWhereAnOptionMayStandEndsTheParseWithoutARefusal) {
    struct Case {
        std::vector<std::string> options;
        std::vector<std::string> applied;
    };
    const std::vector<Case> cases{
        {{"--help"}, {}},
        {{"-h"}, {}},
        {{"--quiet", "--help"}, {"--quiet"}},
        {{"--name", "a", "-h", "--loud", "--name"}, {"--name"}},
        {{"--range", "1", "5", "--help", "--range", "5"}, {"--range"}},
    };
    for (const Case &c : cases) {
        Seen seen;
        std::string error;
        EXPECT_TRUE(ParserFor(seen).Parse(c.options, &error)) << c.options.back() << ": " << error;
        EXPECT_TRUE(seen.help) << c.options.back();
        EXPECT_TRUE(error.empty()) << error;
        EXPECT_EQ(seen.order, c.applied) << c.options.back();
    }
    Seen refused;
    std::string error;
    EXPECT_FALSE(ParserFor(refused).Parse({"--loud", "--help"}, &error))
        << "a refusal before the help stands";
    EXPECT_EQ(error, "unknown option --loud");
    EXPECT_FALSE(refused.help);
}

TEST(OptionParser, NamesWhatItRefusesAndStopsThere) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"--loud", "--quiet"}, "unknown option --loud"},
        {{"--quiet", "--name"}, "--name needs a value"},
        {{"--name", "refused", "--quiet"}, "bad value for --name: refused"},
        {{"--out", ""}, "bad value for --out: "},
        {{"--range", "5", "1", "--quiet"}, "bad value for --range: 5 1"},
        {{"--quiet", "--range", "1"}, "--range needs 2 values"},
        {{"quiet"}, "unknown option quiet"},
    };
    for (const auto &[options, expected] : cases) {
        Seen seen;
        std::string error;
        EXPECT_FALSE(ParserFor(seen).Parse(options, &error)) << expected;
        EXPECT_EQ(error, expected);
        if (options.back() == "--quiet") {
            EXPECT_FALSE(seen.quiet) << "nothing after the refused option is applied";
        }
    }
    Seen seen;
    EXPECT_FALSE(ParserFor(seen).Parse({"--loud"}, nullptr)) << "the reason is optional";
    EXPECT_TRUE(ParserFor(seen).Parse({}, nullptr));
}

TEST(CommandOptions, DropsTheVerbOnlyWhenItComesFirst) {
    char program[] = "corvix-sim", verb[] = "link", port[] = "--port", number[] = "4000";
    char *withVerb[] = {program, verb, port, number, nullptr};
    EXPECT_EQ(sim::CommandOptions(4, withVerb, "link"),
              (std::vector<std::string>{"--port", "4000"}));
    char *withoutVerb[] = {program, port, verb, nullptr};
    EXPECT_EQ(sim::CommandOptions(3, withoutVerb, "link"),
              (std::vector<std::string>{"--port", "link"}));
    EXPECT_EQ(sim::CommandOptions(4, withVerb, "board"),
              (std::vector<std::string>{"link", "--port", "4000"}));
    EXPECT_TRUE(sim::CommandOptions(1, withVerb, "link").empty());
    EXPECT_TRUE(sim::CommandOptions(0, withVerb, "link").empty());
}

TEST(ParseHex16, TakesOneToFourDigitsWithOrWithoutPrefix) {
    EXPECT_EQ(sim::ParseHex16("bf"), 0x00BF);
    EXPECT_EQ(sim::ParseHex16("01A4"), 0x01A4);
    EXPECT_EQ(sim::ParseHex16("0x20"), 0x0020);
    EXPECT_EQ(sim::ParseHex16("0XfFfF"), 0xFFFF);
    EXPECT_EQ(sim::ParseHex16("0"), 0);
    for (const char *bad : {"", "0x", "12345", "0x12345", "xyz", "-1", " 1", "1 "})
        EXPECT_FALSE(sim::ParseHex16(bad)) << '"' << bad << '"';
}

TEST(UsageError, PrintsTheReasonThenTheUsageAndReturnsTwo) {
    testing::internal::CaptureStderr();
    const int status = sim::UsageError("unknown option --help", "usage: corvix-sim x\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "corvix-sim: unknown option --help\nusage: corvix-sim x\n");
    EXPECT_EQ(status, 2);
}

TEST(TerminationSignals, BlocksBothSignalsAndWaitTakesOne) {
    sigset_t before;
    ASSERT_EQ(pthread_sigmask(SIG_SETMASK, nullptr, &before), 0);
    {
        const sim::TerminationSignals signals;
        sigset_t blocked;
        ASSERT_EQ(pthread_sigmask(SIG_SETMASK, nullptr, &blocked), 0);
        EXPECT_EQ(sigismember(&blocked, SIGINT), 1);
        EXPECT_EQ(sigismember(&blocked, SIGTERM), 1);
        // Were it not blocked, this would end the test program instead of returning from Wait().
        ASSERT_EQ(pthread_kill(pthread_self(), SIGTERM), 0);
        signals.Wait();
        sigset_t pending;
        ASSERT_EQ(sigpending(&pending), 0);
        EXPECT_EQ(sigismember(&pending, SIGTERM), 0) << "Wait took the signal";
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr); // the other tests expect the usual mask
}

} // namespace
