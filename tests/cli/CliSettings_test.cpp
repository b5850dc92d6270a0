// tarnwick-cli's settings verbs as a user runs them: listing never changes the registry file,
// whatever state it is in, and a value set while the desktop program runs survives its exit.
#include "CliTestSupport.h"

#include "platform/Registry.h"
#include "settings/Zepenvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string CommunicationsSection =
    "[HKEY_CURRENT_USER\\Software\\Vexlon\\ZEP\\3.02\\Communications]";

std::string ReadFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class CliSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tarnwick-cli-settings-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        registry = dir / "registry.reg";
        ::setenv("TARNWICK_REGISTRY", registry.c_str(), 1);
        platform::ReloadRegistry();
    }
    void TearDown() override {
        ::unsetenv("TARNWICK_REGISTRY");
        platform::ReloadRegistry();
        fs::remove_all(dir);
    }
    // Runs tarnwick-cli to its end; its standard error lands in errors.
    int Run(const std::vector<std::string> &arguments) {
        CliProcess cli(registry, arguments, dir / "stderr.txt");
        int status = cli.Wait(20000ms);
        errors = ReadFile(dir / "stderr.txt");
        fs::remove(dir / "stderr.txt");
        return status;
    }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const fs::directory_entry &entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir;
    fs::path registry;
    std::string errors;
};

// The UTF-16LE bytes, with byte order mark, of ASCII text.
std::string Utf16Le(const std::string &text) {
    std::string bytes = "\xFF\xFE";
    for (char c : text) {
        bytes.push_back(c);
        bytes.push_back('\0');
    }
    return bytes;
}

TEST_F(CliSettingsTest, ListingLeavesAnyRegistryFileAsItIs) {
    struct Case {
        const char *name;
        std::string bytes;
        std::string warning; // a text standard error must hold, or empty
    };
    const std::vector<Case> cases = {
        {"damaged line",
         "Windows Registry Editor Version 5.00\n\n" + CommunicationsSection +
             "\n\"Com Port\"=dword:00000004\n\"Stop Bits\"=dword:zz\n",
         registry.string() + " line 5: "},
        {"export of the Windows registry editor",
         Utf16Le("Windows Registry Editor Version 5.00\r\n\r\n" + CommunicationsSection +
                 "\r\n\"Com Port\"=dword:00000004\r\n"),
         ""},
        {"not a registry file at all", "\x89PNG\r\n\x1a\n", registry.string() + " line 1: "},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(registry, std::ios::binary) << c.bytes;
        EXPECT_EQ(Run({"settings"}), 0) << errors;
        if (!c.warning.empty()) {
            EXPECT_NE(errors.find(c.warning), std::string::npos) << errors;
        }
        EXPECT_EQ(ReadFile(registry), c.bytes);
        EXPECT_EQ(Entries(), std::vector<std::string>{"registry.reg"});
    }
}

TEST_F(CliSettingsTest, ValueSetWhileTheDesktopProgramRunsSurvivesItsExit) {
    // The desktop program starts on a first start, with no file...
    LoadSettings((dir / "prog" / "tarnwick").string());
    // ...the user sets two values from the command line while it is open...
    ASSERT_EQ(Run({"settings", "set", "Com Port", "7"}), 0) << errors;
    ASSERT_EQ(Run({"settings", "set", "Serial Retry Count", "5"}), 0) << errors;
    // ...and in the program changes one of them, and another, before it ends.
    Env().Comm.SerialRetryCount = 3;
    Env().Comm.DetectProcessor = 0;
    Env().Comm.ComPort = 1; // what it loaded: not a change
    SaveSettings();
    platform::ReloadRegistry();
    platform::RegKey key("Software\\Vexlon\\ZEP\\3.02\\Communications");
    EXPECT_EQ(platform::DwordOf(*key.Query("Com Port")), 7u);
    EXPECT_EQ(platform::DwordOf(*key.Query("Serial Retry Count")), 3u);
    EXPECT_EQ(platform::DwordOf(*key.Query("Detect Processor")), 0u);
    EXPECT_EQ(key.ValueNames().size(), 40u);
}

} // namespace
