#include "platform/IniFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using platform::GetPrivateProfileIntA;
using platform::GetPrivateProfileSectionA;

namespace {

class IniFileTest : public testing::Test {
protected:
    IniFileTest() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tarnwick-ini-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot create a scratch folder");
        folder = pattern;
        path = (folder / "test.ini").string();
    }
    ~IniFileTest() override {
        std::error_code ignored; // a leftover scratch folder must not fail the test
        std::filesystem::remove_all(folder, ignored);
    }
    void Write(const std::string &text) const {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    }
    // The section as the caller sees it: the strings up to the double zero, joined by '|'.
    std::string Section(const char *name, uint32_t size, uint32_t &result) const {
        std::string buffer(size + 4, '#');
        result = GetPrivateProfileSectionA(name, buffer.data(), size, path.c_str());
        EXPECT_EQ(buffer.substr(size), "####") << "wrote past the buffer";
        return buffer.substr(0, size);
    }
    uint32_t Int(const char *key, int32_t fallback = -7, const char *section = "s") const {
        return GetPrivateProfileIntA(section, key, fallback, path.c_str());
    }

    std::filesystem::path folder;
    std::string path;
};

} // namespace

TEST_F(IniFileTest, SectionListsItsEntriesAsZeroSeparatedStrings) {
    Write("\xEF\xBB\xBF[other]\r\nx=1\r\n[S]\r\n ; a comment\r\n  a = 1 \r\nb=two words\r\n\r\n"
          "flag\r\n[next]\r\nc=3\r\n");
    uint32_t result = 0;
    const std::string listed = Section("s", 40, result);
    EXPECT_EQ(result, 21u);
    EXPECT_EQ(listed.substr(0, 22), std::string("a=1\0b=two words\0flag\0\0", 22));
}

TEST_F(IniFileTest, MissingOrEmptySectionGivesZeroAndAnEmptyList) {
    Write("[empty]\n\n; nothing here\n[full]\nk=v\n");
    uint32_t result = 99;
    EXPECT_EQ(Section("empty", 8, result).substr(0, 2), std::string("\0\0", 2));
    EXPECT_EQ(result, 0u);
    Section("absent", 8, result);
    EXPECT_EQ(result, 0u);
    std::filesystem::remove(path);
    EXPECT_EQ(Section("full", 8, result).substr(0, 2), std::string("\0\0", 2));
    EXPECT_EQ(result, 0u);
}

TEST_F(IniFileTest, SectionTooLargeForTheBufferIsCutAndEndsWithTwoZeros) {
    Write("[s]\na=1\nb=22\nc=3\n");
    uint32_t result = 0;
    EXPECT_EQ(Section("s", 10, result), std::string("a=1\0b=22\0\0", 10));
    EXPECT_EQ(result, 8u);
    EXPECT_EQ(Section("s", 7, result), std::string("a=1\0b\0\0", 7));
    EXPECT_EQ(result, 5u);
    // Exactly large enough: nothing is cut.
    EXPECT_EQ(Section("s", 14, result), std::string("a=1\0b=22\0c=3\0\0", 14));
    EXPECT_EQ(result, 13u);
    EXPECT_EQ(Section("s", 2, result), std::string("\0\0", 2));
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(Section("s", 1, result), std::string("\0", 1));
    EXPECT_EQ(result, 0u);
}

TEST_F(IniFileTest, IntegersFollowThePlatformConversion) {
    Write("[S]\ndec=1234\nplus=+5\nneg=-1\nhex=0x1F\nHEXCAP=0XfF\nnegHex=-0x10\nlead=12abc\n"
          "word=abc\nempty=\nspaced=  42  \nquoted=\"77\"\nzerox=0x\nwrap=4294967297\nnokey\n"
          "dup=1\ndup=2\n[t]\nlater=5\n");
    EXPECT_EQ(Int("dec"), 1234u);
    EXPECT_EQ(Int("PLUS"), 5u);
    EXPECT_EQ(Int("neg"), 0xFFFFFFFFu);
    EXPECT_EQ(Int("hex"), 0x1Fu);
    EXPECT_EQ(Int("hexcap"), 0xFFu);
    EXPECT_EQ(Int("neghex"), static_cast<uint32_t>(-16));
    EXPECT_EQ(Int("lead"), 12u);
    EXPECT_EQ(Int("spaced"), 42u);
    EXPECT_EQ(Int("quoted"), 77u);
    EXPECT_EQ(Int("zerox"), 0u);
    EXPECT_EQ(Int("wrap"), 1u);
    EXPECT_EQ(Int("dup"), 1u);
    // Not a number, empty, without '=', absent, in another section, or no file: the default.
    EXPECT_EQ(Int("word"), static_cast<uint32_t>(-7));
    EXPECT_EQ(Int("empty", 3), 3u);
    EXPECT_EQ(Int("nokey", 3), 3u);
    EXPECT_EQ(Int("absent", 3), 3u);
    EXPECT_EQ(Int("later", 3), 3u);
    EXPECT_EQ(Int("later", 3, "T"), 5u);
    EXPECT_EQ(Int("dec", 3, "none"), 3u);
    std::filesystem::remove(path);
    EXPECT_EQ(Int("dec", 3), 3u);
}

TEST_F(IniFileTest, NothingIsCachedBetweenCalls) {
    Write("[s]\nk=1\n");
    EXPECT_EQ(Int("k"), 1u);
    Write("[s]\nk=2\n");
    EXPECT_EQ(Int("k"), 2u);
}

TEST_F(IniFileTest, FolderIsNotAFile) {
    path = folder.string();
    uint32_t result = 99;
    Section("s", 8, result);
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(Int("k", 4), 4u);
}
