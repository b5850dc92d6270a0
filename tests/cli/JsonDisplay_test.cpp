// tarnwick-cli's --json lines, read back with a JSON library: every line parses whatever a board
// or a file said, the progress is the image's and at most ten a second, and the result carries
// the failure or the summary.
#include "DisplayScriptSupport.h"

#include "cli/JsonDisplay.h"
#include "cli/JsonText.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using nlohmann::json;

class JsonDisplayTest : public ::testing::Test {
protected:
    // Every line of standard output as JSON; a line that does not parse fails the test.
    std::vector<json> Events() const {
        std::vector<json> events;
        for (const std::string &line : out.Lines()) {
            try {
                events.push_back(json::parse(line));
            } catch (const json::exception &error) {
                ADD_FAILURE() << error.what() << " in: " << line;
            }
        }
        return events;
    }
    std::vector<json> Progress() const {
        std::vector<json> progress;
        for (const json &event : Events())
            if (event.at("event") == "progress") progress.push_back(event);
        return progress;
    }

    ManualClock clock;
    MemoryFile out;
    MemoryFile errors;
    JsonDisplay display{nullptr, out.File(), errors.File(), clock.Clock()};
};

TEST_F(JsonDisplayTest, ALoadIsStagesProgressMessagesAndOneResultAllParsing) {
    LoadScript script;
    script.networkTexts = true;
    script.erase = true;
    script.boardMessage = "volt\"age\\ \x1b[2J\r\n\x01\x7f \xc2\x85 \xff\xfe caf\xc3\xa9";
    PlayLoad(display, clock, script);
    display.ShowOutcome(FullOutcome(script.imageBytes));
    display.Finish();

    const std::vector<json> events = Events();
    ASSERT_GE(events.size(), 6u);
    EXPECT_EQ(events.front().at("event"), "stage");
    int stages = 0;
    uint32_t bytes = 0;
    for (const json &event : events) {
        if (event.at("event") == "stage") ++stages;
        if (event.at("event") == "progress") {
            EXPECT_EQ(event.at("total"), script.imageBytes);
            EXPECT_GE(event.at("bytes").get<uint32_t>(), bytes);
            bytes = event.at("bytes").get<uint32_t>();
        }
        if (event.at("event") == "message") {
            const std::string text = event.at("text").get<std::string>();
            EXPECT_EQ(text.substr(0, 14), "volt\"age\\ \x1b[2J");
            EXPECT_NE(text.find("\xef\xbf\xbd\xef\xbf\xbd caf\xc3\xa9"), std::string::npos)
                << "two bad bytes, two replacement characters, and valid UTF-8 as it was";
        }
    }
    EXPECT_EQ(stages, 4);
    EXPECT_EQ(bytes, script.imageBytes);
    const json &result = events.back();
    EXPECT_EQ(result.at("event"), "result");
    EXPECT_EQ(result.at("code"), 0);
    EXPECT_TRUE(result.at("message").is_null());
    EXPECT_EQ(std::stoul(result.at("flash_id").get<std::string>(), nullptr, 16), 0x01a4u);
    EXPECT_EQ(result.at("image_bytes"), script.imageBytes);
    EXPECT_EQ(result.at("baud"), 115200);
    EXPECT_EQ(result.at("erased"), true);
    EXPECT_EQ(errors.Text(), "");
}

TEST_F(JsonDisplayTest, ProgressIsAtMostTenASecondAndEndsWithTheLastCount) {
    LoadScript script;
    script.imageBytes = 5000 * 128; // five seconds at 1 ms a chunk
    script.perChunk = 1ms;
    PlayLoad(display, clock, script);
    const std::vector<json> progress = Progress();
    EXPECT_LE(progress.size(), 5u * 10 + 2); // and the first and the last
    EXPECT_GE(progress.size(), 40u);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front().at("bytes"), 0);
    EXPECT_EQ(progress.back().at("bytes"), script.imageBytes);
}

TEST_F(JsonDisplayTest, AFailureIsInTheResultAfterTheCountWhereTheImageStopped) {
    LoadScript script;
    script.perChunk = 0ms; // no time passes: only the first count goes out before the failure
    script.stopAfterBytes = 32768;
    PlayLoad(display, clock, script);
    display.ShowFailure("The board did not answer.", "10.0.0.5:4244: no reply\n");
    LoadOutcome outcome;
    outcome.Code = 17;
    outcome.Message = "The board did not answer.";
    display.ShowOutcome(outcome);

    const std::vector<json> progress = Progress();
    ASSERT_EQ(progress.size(), 2u);
    EXPECT_EQ(progress.back().at("bytes"), 32768);
    const json result = Events().back();
    EXPECT_EQ(result.at("code"), 17);
    EXPECT_EQ(result.at("message"), outcome.Message);
    EXPECT_EQ(result.at("detail"), "10.0.0.5:4244: no reply\n");
    for (const char *unknown : {"road", "target", "flash_id", "flash_entry", "baud", "md5"})
        EXPECT_TRUE(result.at(unknown).is_null()) << unknown;
}

struct QuotedCase {
    const char *name;
    std::string text;
    std::string decoded; // what a JSON reader makes of it
};

class JsonQuotedTest : public ::testing::TestWithParam<QuotedCase> {};

// Whatever the bytes, the string is valid JSON on one line with no raw control character in it,
// and reads back as the text, with U+FFFD for each byte that was not UTF-8.
TEST_P(JsonQuotedTest, ReadsBackAsTheTextOnOneSafeLine) {
    const QuotedCase &c = GetParam();
    const std::string quoted = JsonQuoted(c.text);
    for (size_t i = 0; i < quoted.size(); ++i) {
        const auto byte = static_cast<unsigned char>(quoted[i]);
        EXPECT_TRUE(byte >= 0x20 && byte != 0x7f) << "raw byte " << int(byte) << " at " << i;
        if (byte == 0xc2 && i + 1 < quoted.size()) {
            EXPECT_GE(static_cast<unsigned char>(quoted[i + 1]), 0xa0) << "a raw C1 control";
        }
    }
    json parsed;
    ASSERT_NO_THROW(parsed = json::parse(quoted)) << quoted;
    EXPECT_EQ(parsed.get<std::string>(), c.decoded) << quoted;
}

const std::string Fffd = "\xef\xbf\xbd";

INSTANTIATE_TEST_SUITE_P(
    Texts, JsonQuotedTest,
    ::testing::Values(QuotedCase{"Plain", "Sending Program", "Sending Program"},
                      QuotedCase{"QuoteAndBackslash", "a\"b\\c", "a\"b\\c"},
                      QuotedCase{"ShortEscapes", "\b\f\n\r\t", "\b\f\n\r\t"},
                      QuotedCase{"OtherControls", std::string("\0\x01\x1b\x1f\x7f", 5),
                                 std::string("\0\x01\x1b\x1f\x7f", 5)},
                      QuotedCase{"C1Control", "\xc2\x85\xc2\x9b", "\xc2\x85\xc2\x9b"},
                      QuotedCase{"ValidUtf8", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",
                                 "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
                      QuotedCase{"Latin1Byte", "caf\xe9", "caf" + Fffd},
                      QuotedCase{"LoneContinuation", "\x80x", Fffd + "x"},
                      QuotedCase{"CutSequence", "\xe2\x82", Fffd + Fffd},
                      QuotedCase{"Overlong", "\xc0\xaf", Fffd + Fffd},
                      QuotedCase{"Surrogate", "\xed\xa0\x80", Fffd + Fffd + Fffd},
                      QuotedCase{"Empty", "", ""}),
    [](const ::testing::TestParamInfo<QuotedCase> &param) { return param.param.name; });

} // namespace
