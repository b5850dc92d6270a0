// Damaged and foreign registry files: what reading skips and keeps, that reading never changes the
// file, and that a save copies the original aside before it drops anything.
#include "RegistryTestSupport.h"
#include "platform/posix/RegistryHive.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;
using namespace registrytest;
using platform::RegKey;
using platform::regfile::MaxLineLength;

namespace {

const std::string Header = "Windows Registry Editor Version 5.00\n";

// A file whose value lines start on line 4, below the key "T" on line 3.
std::string InT(const std::vector<std::string> &valueLines) {
    std::string text = Header + "\n[HKEY_CURRENT_USER\\T]\n";
    for (const std::string &line : valueLines) text += line + "\n";
    return text;
}

// The UTF-16LE bytes, with byte order mark, of text given as code units.
std::string Utf16Le(const std::u16string &text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

const std::u16string Utf16Header =
    u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\T]\r\n";

std::string Repeat(const std::string &piece, size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
}

struct DamagedFile {
    const char *name;
    std::string bytes;
    std::vector<size_t> skipped;        // line numbers a warning names
    std::vector<std::string> survivors; // the values of key T that are read
};

std::vector<DamagedFile> DamagedFiles() {
    const std::string b = "\"B\"=dword:00000002";
    return {
        {"dword of letters", InT({"\"A\"=dword:xyz", b}), {4}, {"B"}},
        {"dword of nine digits", InT({"\"A\"=dword:123456789", b}), {4}, {"B"}},
        {"dword without digits", InT({"\"A\"=dword:", b}), {4}, {"B"}},
        {"hex byte that is no hex", InT({"\"A\"=hex:1g", b}), {4}, {"B"}},
        {"hex byte of three digits", InT({"\"A\"=hex:01,100", b}), {4}, {"B"}},
        {"hex type that is no hex", InT({"\"A\"=hex(zz):00", b}), {4}, {"B"}},
        {"hex type of nine digits", InT({"\"A\"=hex(123456789):00", b}), {4}, {"B"}},
        {"quote never closed", InT({"\"A\"=\"open", b}), {4}, {"B"}},
        {"text after a string", InT({"\"A\"=\"text\" trailing", b}), {4}, {"B"}},
        {"value deletion", InT({"\"A\"=-", b}), {4}, {"B"}},
        {"name without '='", InT({"\"A\" 5", b}), {4}, {"B"}},
        {"stray text", InT({"garbage", b}), {4}, {"B"}},
        // Quoted in the warning: none of it may drive the terminal the warning is read on.
        {"stray text with controls",
         InT({"\x1b[2J\x7f\xc2\x9b"
              "2Jgarbage",
              b}),
         {4},
         {"B"}},
        // Such a name could never be written back, and every later save would fail.
        {"line break in a value name", InT({"\"A\rZ\"=dword:00000001", b}), {4}, {"B"}},
        {"zero byte inside a line", InT({std::string("\"A\"=\"a\0b\"", 9), b}), {4}, {"B"}},
        {"bad byte on a continuation line", InT({"\"A\"=hex:01,\\", "  zz,02", b}), {4}, {"B"}},
        {"line longer than the bound",
         InT({"\"A\"=\"" + std::string(MaxLineLength, 'x') + "\"", b}),
         {4},
         {"B"}},
        {"continued lines longer than the bound together",
         InT({"\"A\"=hex:" + Repeat("00,", 200000) + "\\", "  " + Repeat("00,", 200000) + "\\",
              "  00", b}),
         {4},
         {"B"}},
        {"value before any key",
         Header + "\"A\"=dword:1\n[HKEY_CURRENT_USER\\T]\n" + b + "\n",
         {2},
         {"B"}},
        {"key outside HKEY_CURRENT_USER takes its values along",
         InT({"\"A\"=dword:1", "[HKEY_LOCAL_MACHINE\\T]", "\"B\"=dword:1", "\"C\"=dword:1",
              "[HKEY_CURRENT_USER\\T]", "\"D\"=dword:1"}),
         {5, 6, 7},
         {"A", "D"}},
        {"key line without its bracket",
         InT({"\"A\"=dword:1", "[HKEY_CURRENT_USER\\T", b}),
         {5, 6},
         {"A"}},
        {"key deletion", InT({"\"A\"=dword:1", "[-HKEY_CURRENT_USER\\T]", b}), {5, 6}, {"A"}},
        {"older header", "REGEDIT4\n\n[HKEY_CURRENT_USER\\T]\n\"A\"=dword:1\n", {1}, {"A"}},
        {"no header at all", "[HKEY_CURRENT_USER\\T]\n\"A\"=dword:1\n", {}, {"A"}},
        {"header repeated further down", InT({"\"A\"=dword:1", Header, b}), {}, {"A", "B"}},
        {"byte order mark and CRLF",
         "\xEF\xBB\xBF" + Header + "\r\n[HKEY_CURRENT_USER\\T]\r\n\"A\"=\"x\"\r\n",
         {},
         {"A"}},
        {"UTF-16LE export",
         Utf16Le(Utf16Header + u"\"A\"=\"caf\u00e9\"\r\n\"B\"=dword:00000002\r\n"),
         {},
         {"A", "B"}},
        {"UTF-16LE with half a surrogate pair",
         Utf16Le(Utf16Header + u"\"A\"=\"\xD800x\"\r\n\"B\"=dword:00000002\r\n"),
         {4},
         {"B"}},
        {"UTF-16LE cut inside its last code unit",
         Utf16Le(Utf16Header + u"\"A\"=dword:00000001\r\n\"B\"=dword:00000002") + "\x01",
         {5},
         {"A"}},
    };
}

using RegistryDamageTest = RegistryFileTest;

TEST_F(RegistryDamageTest, UnreadableLinesAreSkippedWithAWarningAndTheRestIsKept) {
    for (const DamagedFile &damaged : DamagedFiles()) {
        SCOPED_TRACE(damaged.name);
        WriteText(file_, damaged.bytes);
        platform::ReloadRegistry();
        testing::internal::CaptureStderr();
        std::vector<std::string> names = RegKey("T").ValueNames();
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(names, damaged.survivors);
        size_t warnings = 0;
        for (size_t at = err.find("; the line is skipped"); at != std::string::npos;
             at = err.find("; the line is skipped", at + 1))
            ++warnings;
        EXPECT_EQ(warnings, damaged.skipped.size()) << err;
        EXPECT_EQ(err.find_first_of("\x1b\x7f\x9b"), std::string::npos) << err;
        for (size_t line : damaged.skipped)
            EXPECT_NE(err.find(file_.string() + " line " + std::to_string(line) + ": "),
                      std::string::npos)
                << "line " << line << " in: " << err;
        // Reading leaves the file exactly as it was, and sets nothing aside.
        EXPECT_EQ(ReadText(file_), damaged.bytes);
        EXPECT_EQ(FolderEntries(), std::vector<std::string>{"registry.reg"});
    }
}

TEST_F(RegistryDamageTest, ADamagedValueIsNotQuotedInItsWarning) {
    // A password whose quotes were lost: the warning names the line, never the text.
    WriteText(file_, InT({"\"CorvixSys Password\"=hunter2-secret", "\"B\"=dword:00000002"}));
    platform::ReloadRegistry();
    testing::internal::CaptureStderr();
    EXPECT_EQ(RegKey("T").ValueNames(), std::vector<std::string>{"B"});
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(" line 4: "), std::string::npos) << err;
    EXPECT_EQ(err.find("hunter2"), std::string::npos) << err;
}

TEST_F(RegistryDamageTest, ValuesOfAUtf16ExportReadAsUtf8Text) {
    WriteText(file_, Utf16Le(Utf16Header + u"\"Name\"=\"caf\u00e9 \U0001F600\"\r\n"
                                           u"\"Number\"=dword:0000002a\r\n"
                                           u"\"Blob\"=hex:01,\\\r\n  02\r\n"));
    RegKey key("T");
    EXPECT_EQ(platform::StringOf(*key.Query("Name")), "caf\xC3\xA9 \xF0\x9F\x98\x80");
    EXPECT_EQ(platform::DwordOf(*key.Query("Number")), 42u);
    EXPECT_EQ(key.Query("Blob")->data, Bytes({1, 2}));
}

TEST_F(RegistryDamageTest, ValuesOfOddSizesAreReadWithinTheirBytesAndKept) {
    WriteText(file_, InT({"\"Short\"=hex(4):01,02", "\"Long\"=hex(4):01,02,03,04,05",
                          "\"Unended\"=hex(1):61,62", "\"Empty\"=hex(1):"}));
    RegKey key("T");
    EXPECT_FALSE(platform::DwordOf(*key.Query("Short")));
    EXPECT_FALSE(platform::DwordOf(*key.Query("Long")));
    EXPECT_EQ(platform::StringOf(*key.Query("Unended")), "ab");
    EXPECT_EQ(platform::StringOf(*key.Query("Empty")), "");
    key.SetDword("Other", 1);
    platform::ReloadRegistry();
    EXPECT_EQ(RegKey("T").Query("Short")->data, Bytes({1, 2}));
    EXPECT_EQ(RegKey("T").Query("Long")->data, Bytes({1, 2, 3, 4, 5}));
    EXPECT_EQ(RegKey("T").Query("Unended")->data, Bytes({'a', 'b'}));
}

TEST_F(RegistryDamageTest, FirstSaveThatDropsSomethingCopiesTheOriginalAsideOnce) {
    const std::string damaged = InT({"\"A\"=dword:1", "\"Bad\"=dword:xyz", "\"C\"=\"kept\""});
    WriteText(file_, damaged);
    testing::internal::CaptureStderr();
    RegKey("T").SetDword("New", 5);
    RegKey("T").SetDword("New", 6);
    std::string err = testing::internal::GetCapturedStderr();
    const fs::path aside = file_.string() + ".bad";
    EXPECT_EQ(ReadText(aside), damaged);
    EXPECT_NE(err.find("copied to " + aside.string()), std::string::npos) << err;
    EXPECT_NE(err.find("leaves out 1 line"), std::string::npos) << err;
    // The second save drops nothing more: one copy, one message.
    EXPECT_EQ(err.find("copied to", err.find("copied to") + 1), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(file_.string() + ".bad.2"));
    auto reread = platform::regfile::ParseRegFile(ReadText(file_));
    EXPECT_TRUE(reread.skipped.empty());
    platform::ReloadRegistry();
    EXPECT_EQ(RegKey("T").ValueNames(), (std::vector<std::string>{"A", "C", "New"}));

    // Damaged again later: the first copy stays as it is, the new original goes beside it.
    const std::string damagedAgain = InT({"\"A\"=dword:1", "stray"});
    WriteText(file_, damagedAgain);
    platform::ReloadRegistry();
    testing::internal::CaptureStderr();
    RegKey("T").SetDword("New", 7);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(ReadText(aside), damaged);
    EXPECT_EQ(ReadText(file_.string() + ".bad.2"), damagedAgain);
}

TEST_F(RegistryDamageTest, Utf16FileIsCopiedAsideThenWrittenAsUtf8) {
    const std::string exported = Utf16Le(Utf16Header + u"\"Name\"=\"caf\u00e9\"\r\n");
    WriteText(file_, exported);
    testing::internal::CaptureStderr();
    RegKey("T").SetDword("Number", 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("writes UTF-8 instead of UTF-16"), std::string::npos) << err;
    EXPECT_EQ(ReadText(file_.string() + ".bad"), exported);
    std::string text = ReadText(file_);
    EXPECT_EQ(text.rfind(Header, 0), 0u) << text;
    EXPECT_NE(text.find("\"Name\"=\"caf\xC3\xA9\""), std::string::npos) << text;
}

TEST_F(RegistryDamageTest, WarningsStopAfterAScreenful) {
    std::vector<std::string> lines(platform::regfile::MaxSkippedWarnings + 5, "stray");
    WriteText(file_, InT(lines));
    testing::internal::CaptureStderr();
    RegKey("T").ValueNames();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'),
              static_cast<long>(platform::regfile::MaxSkippedWarnings + 1))
        << err;
    EXPECT_NE(err.find(": 5 more lines are skipped"), std::string::npos) << err;
}

TEST_F(RegistryDamageTest, FileLargerThanTheBoundIsNeitherReadNorReplaced) {
    WriteText(file_, Header);
    ASSERT_EQ(::truncate(file_.c_str(), static_cast<off_t>(platform::regfile::MaxFileSize) + 1), 0);
    testing::internal::CaptureStderr();
    RegKey key("T");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("larger than"), std::string::npos) << err;
    EXPECT_THROW(key.SetDword("A", 1), platform::RegistryError);
    EXPECT_EQ(fs::file_size(file_), platform::regfile::MaxFileSize + 1);
    EXPECT_FALSE(fs::exists(file_.string() + ".bad"));
}

} // namespace
