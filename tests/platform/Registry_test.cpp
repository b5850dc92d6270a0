#include "RegistryTestSupport.h"
#include "platform/posix/RegistryHive.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <sys/stat.h>

namespace fs = std::filesystem;
using platform::RegKey;
using platform::RegType;
using platform::RegValue;

using namespace registrytest;

namespace {

TEST_F(RegistryFileTest, EveryValueTypeReadsBackByteForByteAfterReload) {
    const std::vector<RegValue> stored = {
        {"Number", RegType::Dword, Bytes({0x0a, 0, 0, 0})},
        {"Text", RegType::String, Bytes({'a', '\\', 'b', '"', 'c', 0})},
        {"Empty", RegType::String, Bytes({0})},
        {"Multi", RegType::MultiString, Bytes({'o', 'n', 'e', 0, 't', 'w', 'o', 0, 0})},
        {"Blob", RegType::Binary, Bytes({0x00, 0xff, 0x7f})},
        {"NoBytes", RegType::Binary, {}},
        {"Expand", RegType::ExpandString, Bytes({'%', 'H', '%', 0})},
        {"Line break", RegType::String, Bytes({'a', '\n', 'b', 0})},
        {"No terminator", RegType::String, Bytes({'a', 'b'})},
        {"Short dword", RegType::Dword, Bytes({1, 2, 3})},
        {"Odd type", static_cast<RegType>(0x1234), Bytes({9})},
        {"", RegType::String, Bytes({'d', 'e', 'f', 0})},
        {"Non-ASCII \xc3\xa9", RegType::String, Bytes({0xc3, 0xa9, 0})},
    };
    {
        RegKey key(KeyPath);
        for (const RegValue &value : stored) key.SetRaw(value.name, value.type, value.data);
    }
    platform::ReloadRegistry();
    RegKey key(KeyPath);
    std::vector<std::string> names;
    for (const RegValue &value : stored) {
        names.push_back(value.name);
        auto read = key.Query(value.name);
        ASSERT_TRUE(read) << value.name;
        EXPECT_EQ(read->type, value.type) << value.name;
        EXPECT_EQ(read->data, value.data) << value.name;
    }
    EXPECT_EQ(key.ValueNames(), names);
}

TEST_F(RegistryFileTest, FileUsesTheExportFormat) {
    RegKey key(KeyPath);
    key.SetDword("Com Port", 10);
    key.SetString("ColdLoader", "C:\\bios\\\"x\".bin");
    key.SetRaw("Multi", RegType::MultiString, Bytes({'a', 0, 0}));
    key.SetRaw("Blob", RegType::Binary, Bytes({1, 0xab}));
    EXPECT_EQ(ReadText(file_), "Windows Registry Editor Version 5.00\n"
                               "\n"
                               "[HKEY_CURRENT_USER\\Software\\Vexlon\\ZEP\\3.02\\Communications]\n"
                               "\"Com Port\"=dword:0000000a\n"
                               "\"ColdLoader\"=\"C:\\\\bios\\\\\\\"x\\\".bin\"\n"
                               "\"Multi\"=hex(7):61,00,00\n"
                               "\"Blob\"=hex:01,ab\n"
                               "\n");
}

TEST_F(RegistryFileTest, LongHexValuesWrapAndReadBack) {
    std::vector<uint8_t> data(300);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    RegKey(KeyPath).SetRaw("Long", RegType::Binary, data);
    std::string text = ReadText(file_);
    std::istringstream lines(text);
    std::string line;
    int continued = 0;
    while (std::getline(lines, line)) {
        EXPECT_LE(line.size(), 80u) << line;
        continued += !line.empty() && line.back() == '\\';
    }
    EXPECT_GT(continued, 1);
    platform::ReloadRegistry();
    EXPECT_EQ(RegKey(KeyPath).Query("Long")->data, data);
}

TEST_F(RegistryFileTest, NamesAndKeysMatchWithoutRegardToCase) {
    RegKey key(KeyPath);
    key.SetString("PilotBios", "old");
    key.SetDword("Other", 1);
    RegKey sameKey("software\\VEXLON\\zep\\3.02\\communications\\");
    sameKey.SetString("PILOTBIOS", "new");
    // Rewriting keeps the first spelling and the place in the order, as the Win32 registry does.
    EXPECT_EQ(key.ValueNames(), (std::vector<std::string>{"PilotBios", "Other"}));
    EXPECT_EQ(platform::StringOf(*key.Query("pilotbios")), "new");
    platform::ReloadRegistry();
    EXPECT_EQ(platform::StringOf(*RegKey(KeyPath).Query("PilotBIOS")), "new");
}

TEST_F(RegistryFileTest, DeleteValueRemovesItFromTheFile) {
    RegKey key(KeyPath);
    key.SetDword("A", 1);
    key.SetDword("B", 2);
    EXPECT_TRUE(key.DeleteValue("a"));
    EXPECT_FALSE(key.DeleteValue("a"));
    platform::ReloadRegistry();
    EXPECT_EQ(RegKey(KeyPath).ValueNames(), std::vector<std::string>{"B"});
}

TEST_F(RegistryFileTest, ReadingAndOpeningKeysNeverCreateTheFile) {
    RegKey key(KeyPath);
    EXPECT_FALSE(key.Query("Com Port"));
    EXPECT_TRUE(key.ValueNames().empty());
    EXPECT_FALSE(fs::exists(file_));
}

TEST_F(RegistryFileTest, SavedFileIsPrivateToTheUser) {
    WriteText(file_, "Windows Registry Editor Version 5.00\n");
    fs::permissions(file_, fs::perms(0644));
    mode_t old = ::umask(0);
    RegKey(KeyPath).SetString("CorvixSys Password", "secret");
    ::umask(old);
    for (const fs::path &path : {file_, fs::path(file_.string() + ".lock")}) {
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0) << path;
        EXPECT_EQ(info.st_mode & 0777, 0600u) << path;
    }
    // No temporary file is left beside it, only the lock that saves share.
    EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
}

TEST_F(RegistryFileTest, MissingFoldersAreCreated) {
    UseRegistryFile(folder_ / "a" / "b" / "registry.reg");
    RegKey(KeyPath).SetDword("X", 1);
    EXPECT_TRUE(fs::is_regular_file(file_));
}

TEST_F(RegistryFileTest, FileThatCannotBeReadIsNeverReplaced) {
    fs::create_directory(file_); // a folder where the file should be: unreadable, not renamable
    fs::create_directory(file_ / "keep");
    testing::internal::CaptureStderr();
    RegKey key(KeyPath);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(file_.string() + " cannot be read"), std::string::npos) << err;
    EXPECT_NE(err.find("nothing will be saved"), std::string::npos) << err;
    try {
        key.SetDword("Com Port", 1);
        ADD_FAILURE() << "the write should have been refused";
    } catch (const platform::RegistryError &e) {
        EXPECT_NE(std::string(e.what()).find("left as it is"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(fs::is_directory(file_ / "keep"));
}

TEST_F(RegistryFileTest, FailedWriteThrowsAndStoresNothing) {
    WriteText(folder_ / "plain", "not a folder");
    UseRegistryFile(folder_ / "plain" / "registry.reg");
    RegKey key(KeyPath);
    try {
        key.SetDword("Com Port", 5);
        FAIL() << "the write should have failed";
    } catch (const platform::RegistryError &e) {
        EXPECT_NE(std::string(e.what()).find("registry.reg"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(key.Query("Com Port"));
    EXPECT_THROW(key.SetString("Name\nwith break", "x"), platform::RegistryError);
}

TEST_F(RegistryFileTest, ConcurrentWritersLoseNothing) {
    constexpr int Threads = 4;
    constexpr int PerThread = 15;
    std::vector<std::thread> writers;
    for (int t = 0; t < Threads; ++t)
        writers.emplace_back([t] {
            RegKey key(KeyPath);
            for (int i = 0; i < PerThread; ++i)
                key.SetDword("T" + std::to_string(t) + "-" + std::to_string(i),
                             static_cast<uint32_t>(t * 100 + i));
        });
    for (std::thread &writer : writers) writer.join();
    platform::ReloadRegistry();
    RegKey key(KeyPath);
    EXPECT_EQ(key.ValueNames().size(), static_cast<size_t>(Threads * PerThread));
    EXPECT_EQ(platform::DwordOf(*key.Query("T3-14")), 314u);
}

TEST_F(RegistryFileTest, PathFollowsTheEnvironment) {
    EXPECT_EQ(platform::RegistryFilePath(), file_.string());
    ::unsetenv("TARNWICK_REGISTRY");
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(platform::RegistryFilePath(), "/cfg/tarnwick/registry.reg");
    ::setenv("XDG_CONFIG_HOME", "relative", 1);
    std::string saved = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", "/home/u", 1);
    EXPECT_EQ(platform::RegistryFilePath(), "/home/u/.config/tarnwick/registry.reg");
    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("HOME", saved.c_str(), 1);
}

// The text form on its own.

TEST(RegFileParse, AcceptsWhatRegeditWrites) {
    auto parsed =
        platform::regfile::ParseRegFile("\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
                                        "\r\n"
                                        "; a comment\r\n"
                                        "[HKEY_CURRENT_USER\\Software\\A]\r\n"
                                        "@=\"default\"\r\n"
                                        "\"Multi\"=hex(7):61,00,\\\r\n"
                                        "  62,00,00\r\n"
                                        "\"Number\" = DWORD:FFFFFFFF\r\n"
                                        "\"Path\"=\"C:\\dir\\x\"\r\n"
                                        "[hkey_current_user\\software\\a]\r\n"
                                        "\"Late\"=hex:\r\n");
    EXPECT_TRUE(parsed.skipped.empty());
    ASSERT_EQ(parsed.hive.keys.size(), 1u);
    const auto &key = parsed.hive.keys[0];
    ASSERT_EQ(key.values.size(), 5u);
    EXPECT_EQ(key.values[0].name, "");
    EXPECT_EQ(key.values[1].data, Bytes({'a', 0, 'b', 0, 0}));
    EXPECT_EQ(platform::DwordOf(key.values[2]), 0xFFFFFFFFu);
    // A lone backslash before an ordinary letter is kept, as regedit keeps it.
    EXPECT_EQ(platform::StringOf(key.values[3]), "C:\\dir\\x");
    EXPECT_EQ(key.values[4].type, RegType::Binary);
    EXPECT_TRUE(key.values[4].data.empty());
}

TEST(RegFileParse, EmptyTextIsAnEmptyRegistry) {
    for (const char *text : {"", "\n\r\n"}) {
        auto parsed = platform::regfile::ParseRegFile(text);
        EXPECT_TRUE(parsed.hive.keys.empty());
        EXPECT_TRUE(parsed.skipped.empty());
    }
}

TEST(RegistryValues, TypedReadersRefuseOtherShapes) {
    EXPECT_EQ(platform::DwordOf({"", RegType::Dword, Bytes({0x78, 0x56, 0x34, 0x12})}),
              0x12345678u);
    EXPECT_FALSE(platform::DwordOf({"", RegType::Dword, Bytes({1, 2})}));
    EXPECT_FALSE(platform::DwordOf({"", RegType::Binary, Bytes({1, 2, 3, 4})}));
    EXPECT_EQ(platform::StringOf({"", RegType::String, Bytes({'a', 0, 'b', 0})}), "a");
    EXPECT_EQ(platform::StringOf({"", RegType::String, Bytes({'a', 'b'})}), "ab");
    EXPECT_FALSE(platform::StringOf({"", RegType::Dword, Bytes({0, 0, 0, 0})}));
    EXPECT_TRUE(platform::SameRegistryName("Flash Table", "FLASH table"));
    EXPECT_FALSE(platform::SameRegistryName("File1", "File10"));
}

} // namespace
