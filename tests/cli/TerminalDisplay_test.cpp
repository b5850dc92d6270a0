// tarnwick-cli's display on standard error, driven in-process through a whole scripted load:
// the bar counts the image alone and fits the terminal, logs get a line per tenth whatever the
// road, quiet keeps only what matters, and a failure reads "Error: <message>" then its detail.
#include "DisplayScriptSupport.h"

#include "cli/TerminalDisplay.h"
#include "loader/LoaderErrors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

CliOutputStyle Style(bool interactive, bool quiet = false, bool verbose = false) {
    CliOutputStyle style;
    style.interactive = interactive;
    style.quiet = quiet;
    style.verbose = verbose;
    return style;
}

size_t CountLinesWith(const std::vector<std::string> &lines, const std::string &part) {
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const auto &line) {
        return line.find(part) != std::string::npos;
    }));
}

// What a terminal shows of each bar drawing: the text after each carriage return.
std::vector<std::string> BarDrawings(const std::string &text) {
    std::vector<std::string> drawings;
    for (size_t at = text.find('\r'); at != std::string::npos; at = text.find('\r', at + 1))
        drawings.push_back(text.substr(at + 1, text.find_first_of("\r\n", at + 1) - at - 1));
    return drawings;
}

class TerminalDisplayTest : public ::testing::Test {
protected:
    void Play(const CliOutputStyle &style, const LoadScript &script) {
        TerminalDisplay display(nullptr, out.File(), style, clock.Clock(), [] { return 160; });
        PlayLoad(display, clock, script);
        display.ShowOutcome(FullOutcome(script.imageBytes));
        display.Finish();
    }

    ManualClock clock;
    MemoryFile out;
};

TEST_F(TerminalDisplayTest, TheBarCountsTheImageFromItsStartOnly) {
    LoadScript script;
    script.imageBytes = 10240; // 80 chunks, 125 ms each: ten seconds at 1 KiB/s
    script.perChunk = 125ms;
    Play(Style(true), script);

    const std::vector<std::string> drawings = BarDrawings(out.Text());
    ASSERT_GE(drawings.size(), 2u) << out.Text();
    EXPECT_NE(drawings.front().find(" 0/10240 bytes"), std::string::npos) << drawings.front();
    const std::string &last = drawings.back();
    EXPECT_NE(last.find("100% 10240/10240 bytes"), std::string::npos) << last;
    EXPECT_NE(last.find("1.0 KiB/s"), std::string::npos) << last;
    EXPECT_NE(last.find("elapsed 00:10"), std::string::npos) << last;
}

TEST_F(TerminalDisplayTest, TheBarIsRedrawnAtMostTenTimesASecond) {
    LoadScript script;
    script.imageBytes = 5000 * 128; // five seconds at 1 ms a chunk
    script.perChunk = 1ms;
    Play(Style(true), script);
    const size_t drawings = BarDrawings(out.Text()).size();
    EXPECT_LE(drawings, 5u * 10 + 2); // and the first and the last
    EXPECT_GE(drawings, 40u);         // it keeps moving meanwhile
}

TEST_F(TerminalDisplayTest, ElsewhereALinePerTenthOnEveryRoadAndPacketTextsOnlyWhenVerbose) {
    struct Case {
        bool networkTexts;
        bool verbose;
        size_t packetLines;
    };
    for (const Case &c : {Case{false, false, 0}, Case{true, false, 0}, Case{true, true, 1024}}) {
        MemoryFile log;
        ManualClock logClock;
        TerminalDisplay display(nullptr, log.File(), Style(false, false, c.verbose),
                                logClock.Clock());
        LoadScript script; // 512 packets
        script.networkTexts = c.networkTexts;
        PlayLoad(display, logClock, script);
        display.Finish();

        const std::vector<std::string> lines = log.Lines();
        SCOPED_TRACE(testing::Message()
                     << "network " << c.networkTexts << ", verbose " << c.verbose);
        EXPECT_EQ(CountLinesWith(lines, "/65536 bytes"), 10u);
        EXPECT_EQ(CountLinesWith(lines, "100% 65536/65536"), 1u);
        EXPECT_EQ(CountLinesWith(lines, " packets "), c.packetLines);
        EXPECT_EQ(CountLinesWith(lines, "bytes sent"), 0u); // the byte counter is the lines' job
        EXPECT_EQ(log.Text().find('\r'), std::string::npos);
    }
}

TEST_F(TerminalDisplayTest, QuietShowsTheBoardsMessageAndTheSummaryOnly) {
    LoadScript script;
    script.boardMessage = "Flash voltage low";
    Play(Style(true, true), script);
    const std::vector<std::string> lines = out.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "Message from the board: Flash voltage low");
    EXPECT_EQ(CountLinesWith(lines, "Sending"), 0u);
    EXPECT_EQ(out.Text().find('\r'), std::string::npos);
    EXPECT_EQ(CountLinesWith(lines, "65536 bytes"), 1u); // what was written, once
}

TEST_F(TerminalDisplayTest, AFailureCutsTheBarAndGivesItsMessageThenTheEscapedDetail) {
    TerminalDisplay display(nullptr, out.File(), Style(true), clock.Clock(), [] { return 160; });
    LoadScript script;
    script.stopAfterBytes = 32768;
    PlayLoad(display, clock, script);
    const std::string detail = "COM3 (/dev/ttyUSB0): \x1b[2Jno reply\nrm -rf";
    display.ShowFailure("The board did not answer.", detail);
    LoadOutcome outcome;
    outcome.Code = 17;
    outcome.Message = "The board did not answer.";
    outcome.Detail = detail;
    display.ShowOutcome(outcome);
    display.Finish();

    const std::vector<std::string> lines = out.Lines();
    ASSERT_GE(lines.size(), 3u) << out.Text();
    const std::string bar = BarDrawings(out.Text()).back();
    EXPECT_NE(bar.find("32768/65536 bytes"), std::string::npos)
        << "the bar stays where the image stopped: " << bar;
    EXPECT_EQ(lines[lines.size() - 2], "Error: The board did not answer.");
    const std::string &shown = lines.back();
    EXPECT_EQ(shown.rfind("  COM3 (/dev/ttyUSB0): ", 0), 0u) << shown;
    EXPECT_EQ(shown.find('\x1b'), std::string::npos) << shown;
    EXPECT_NE(shown.find("rm -rf"), std::string::npos) << "the detail stays on one line";
}

TEST_F(TerminalDisplayTest, ACancelEndsWithItsMessageAndNoError) {
    TerminalDisplay display(nullptr, out.File(), Style(false), clock.Clock());
    LoadScript script;
    script.stopAfterBytes = 1024;
    PlayLoad(display, clock, script);
    LoadOutcome outcome;
    outcome.Code = LoaderErrorCancelled;
    outcome.Message = "Transfer cancelled.";
    display.ShowOutcome(outcome);
    display.Finish();
    const std::vector<std::string> lines = out.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), outcome.Message);
    EXPECT_EQ(CountLinesWith(lines, "Error"), 0u);
}

struct BarCase {
    int columns;
    uint32_t bytes;
    uint32_t total;
};

class BarLineTest : public ::testing::TestWithParam<BarCase> {};

// The bar never reaches the terminal's last column (where it would wrap and every redraw would
// add a line), and where there is room its filled part matches the share of the image sent.
TEST_P(BarLineTest, FitsTheTerminalAndFillsByTheShareSent) {
    const BarCase c = GetParam();
    const std::string line = TerminalDisplay::BarLine(c.bytes, c.total, 3.0, c.columns);
    EXPECT_LE(line.size(), static_cast<size_t>(std::max(c.columns - 1, 0))) << line;
    if (c.columns >= 120) {
        ASSERT_EQ(line.front(), '[') << "a wide terminal has room for the bar: " << line;
    }
    if (line.empty() || line.front() != '[') return;
    const auto width = static_cast<double>(line.find(']') - 1);
    const auto filled = static_cast<double>(std::count(line.begin(), line.end(), '#'));
    EXPECT_NEAR(filled / width, double(c.bytes) / c.total, 1.0 / width) << line;
}

INSTANTIATE_TEST_SUITE_P(
    Widths, BarLineTest,
    ::testing::Values(BarCase{0, 10, 100}, BarCase{1, 10, 100}, BarCase{20, 10, 100},
                      BarCase{40, 50, 100}, BarCase{70, 50, 100}, BarCase{80, 0, 262144},
                      BarCase{80, 131072, 262144}, BarCase{100, 262144, 262144}, BarCase{120, 1, 3},
                      BarCase{132, 4000000000u, 4294967295u}, BarCase{400, 2, 3}),
    [](const ::testing::TestParamInfo<BarCase> &param) {
        return std::to_string(param.param.columns) + "Columns" + std::to_string(param.param.bytes) +
               "Of" + std::to_string(param.param.total);
    });

} // namespace
