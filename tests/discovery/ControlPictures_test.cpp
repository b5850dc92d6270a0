// How the discovery list shows a device's texts: every control a name may carry is a visible
// symbol, one character for one control, and everything else is left as it came.
#include "discovery/ControlPictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

namespace {

struct PictureCase {
    const char *what;
    std::string text;
    std::string shown;
};

class ControlPicturesTest : public ::testing::TestWithParam<PictureCase> {};

TEST_P(ControlPicturesTest, ShowsEachControlAsOneVisibleSymbol) {
    EXPECT_EQ(WithControlPictures(GetParam().text), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ControlPicturesTest,
    ::testing::Values(
        PictureCase{"empty", "", ""}, PictureCase{"plain", "Bench-1 (lab)", "Bench-1 (lab)"},
        PictureCase{"tab", "a\tb", "a\u2409b"}, PictureCase{"line feed", "a\nb", "a\u240Ab"},
        PictureCase{"carriage return", "a\rb", "a\u240Db"},
        PictureCase{"nul inside", std::string("a\0b", 3), "a\u2400b"},
        PictureCase{"escape sequence", "\x1b[2J", "\u241B[2J"},
        PictureCase{"last C0 control", "\x1f", "\u241F"}, PictureCase{"space", " ", " "},
        PictureCase{"DEL", "a\x7f", "a\u2421"}, PictureCase{"tilde before DEL", "~", "~"},
        PictureCase{"first C1 control", "\xc2\x80", "\uFFFD"},
        PictureCase{"next line", "a\xc2\x85z", "a\uFFFDz"},
        PictureCase{"CSI",
                    "\xc2\x9b"
                    "2J",
                    "\uFFFD2J"},
        PictureCase{"no-break space", "\xc2\xa0", "\xc2\xa0"},
        PictureCase{"line separator", "a\xe2\x80\xa8z", "a\uFFFDz"},
        PictureCase{"paragraph separator", "\xe2\x80\xa9", "\uFFFD"},
        PictureCase{"ellipsis", "\xe2\x80\xa6", "\xe2\x80\xa6"},
        PictureCase{"accents",
                    "Pr\xc3\xbc"
                    "fstand",
                    "Pr\xc3\xbc"
                    "fstand"},
        PictureCase{"not UTF-8", "\xff\xc2", "\xff\xc2"},
        PictureCase{"all at once", "\x1b]0;x\x07\n", "\u241B]0;x\u2407\u240A"}),
    [](const ::testing::TestParamInfo<PictureCase> &param) {
        std::string name;
        for (const char *c = param.param.what; *c != '\0'; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

// No byte of ASCII, alone, comes out as a control: the edges of the ranges are where a table
// goes wrong.
TEST(ControlPictures, NoAsciiByteComesOutAsAControl) {
    for (int byte = 0; byte < 0x80; ++byte) {
        const std::string shown = WithControlPictures(std::string(1, static_cast<char>(byte)));
        const bool control = byte < 0x20 || byte == 0x7f;
        EXPECT_EQ(shown.size(), control ? 3u : 1u) << "byte " << byte;
        EXPECT_TRUE(std::none_of(shown.begin(), shown.end(),
                                 [](char c) {
                                     const auto b = static_cast<unsigned char>(c);
                                     return b < 0x20 || b == 0x7f;
                                 }))
            << "byte " << byte;
    }
}

} // namespace
