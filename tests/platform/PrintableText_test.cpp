#include "platform/PrintableText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct EscapeCase {
    const char *name;
    std::string text;
    std::string expected;
};

class EscapeControlsTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeControlsTest, NothingThatDrivesATerminalGetsThrough) {
    EXPECT_EQ(platform::EscapeControls(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, EscapeControlsTest,
    ::testing::Values(EscapeCase{"Plain", "CorvixLink 192.168.1.50", "CorvixLink 192.168.1.50"},
                      EscapeCase{"FakeSecondLine", "lab\n10.0.0.9\tfake", "lab\\n10.0.0.9\\tfake"},
                      EscapeCase{"CarriageReturnOverwrites", "ok\rEVIL", "ok\\rEVIL"},
                      EscapeCase{"EscapeSequence", "\x1b[2Jgone", "\\x1b[2Jgone"},
                      EscapeCase{"NulAndDel", std::string("a\0b\x7f", 4), "a\\x00b\\x7f"},
                      EscapeCase{"BackslashDoubled", "a\\x1b", "a\\\\x1b"},
                      EscapeCase{"Utf8Kept",
                                 "Pr\xc3\xbc"
                                 "fstand \xe2\x82\xac",
                                 "Pr\xc3\xbc"
                                 "fstand \xe2\x82\xac"},
                      EscapeCase{"C1ControlAsUtf8",
                                 "\xc2\x9b"
                                 "31m",
                                 "\\xc2\\x9b"
                                 "31m"},
                      EscapeCase{"LoneHighByte",
                                 "\x9b"
                                 "31m",
                                 "\\x9b"
                                 "31m"},
                      EscapeCase{"OverlongSlash", "\xc0\xaf", "\\xc0\\xaf"},
                      EscapeCase{"CutSequence", "end\xe2\x82", "end\\xe2\\x82"},
                      EscapeCase{"Surrogate", "\xed\xa0\x80", "\\xed\\xa0\\x80"}),
    [](const ::testing::TestParamInfo<EscapeCase> &param) { return param.param.name; });

} // namespace
