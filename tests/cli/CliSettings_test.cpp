// tarnwick-cli's settings verbs as a user runs them: listing never changes the registry file,
// whatever state it is in, and a value set while the desktop program runs survives its exit.
#include "CliTestSupport.h"

#include "platform/Registry.h"
#include "platform/Serial.h"
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

class CliSettingsTest : public CliTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(CliTest::SetUp());
        registry = dir / "registry.reg";
        ::setenv("TARNWICK_REGISTRY", registry.c_str(), 1);
        platform::ReloadRegistry();
    }
    void TearDown() override {
        ::unsetenv("TARNWICK_REGISTRY");
        platform::ReloadRegistry();
        CliTest::TearDown();
    }
    // Runs tarnwick-cli with the test's registry; its standard error lands in errors.
    int Run(const std::vector<std::string> &arguments) {
        const Outcome outcome = CliTest::Run(registry, arguments);
        errors = outcome.errors;
        output = outcome.output;
        return outcome.status;
    }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const fs::directory_entry &entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path registry;
    std::string errors;
    std::string output;
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
        EXPECT_EQ(ReadWholeFile(registry), c.bytes);
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

// A registry file with a few values already in it, as a user's would be.
std::string UsersRegistry() {
    return "Windows Registry Editor Version 5.00\r\n\r\n" + CommunicationsSection +
           "\r\n\"Com Port\"=dword:00000007\r\n\"CorvixSys Password\"=\"hunter2\"\r\n"
           "\"Stop Bits\"=dword:00000002\r\n";
}

TEST_F(CliSettingsTest, ValuesOutsideTheirRulesAreRefusedAndNothingIsWritten) {
    struct Case {
        std::vector<std::string> arguments;
        std::string allowed; // what the refusal must say is allowed
    };
    const std::string tooLong(256, 'n');
    const std::vector<Case> cases = {
        {{"set", "Stop Bits", "3"}, "an integer from 0 to 2"},
        {{"set", "UseTCP", "2"}, "0 or 1"},
        {{"set", "Load through CorvixSys", "-1"}, "0 or 1"},
        {{"set", "Log Verbose", "0x10"}, "0 or 1"},
        {{"set", "Com Port", "0"}, "an integer from 1 to 256"},
        {{"set", "Com Port", "4294967295"}, "an integer from 1 to 256"},
        {{"set", "Com Port", "3x"}, "an integer from 1 to 256"},
        {{"set", "Bios Baud Rate", "100000"}, "one of 110, 150, 300"},
        {{"set", "Coldload Baud Rate", "0"}, "one of 110, 150, 300"},
        {{"set", "Max Negotiated Baud", "9600"}, "one of 57600, 115200, 230400, 460800"},
        {{"set", "Serial Response Timeout", "0"}, "an integer from 1 to 600000"},
        {{"set", "Ethernet Response Timeout", "-8000"}, "an integer from 1 to 600000"},
        {{"set", "Serial Retry Count", "-1"}, "an integer from 0 to 100"},
        {{"set", "CorvixLink TCP Port", "70000"}, "an integer from 1 to 65535"},
        {{"set", "CorvixSys TCP Port", "0"}, "an integer from 1 to 65535"},
        {{"set", "Pilot Bios Physical Adress", "0x100000"}, "an integer from 0 to 1048575"},
        {{"set", "CorvixLink Address", "192.168.1"}, "a dotted IPv4 address"},
        {{"set", "CorvixSys Address", "corvix.local"}, "a dotted IPv4 address"},
        {{"set", "Discovery Broadcast Address", "256.1.1.1"}, "a dotted IPv4 address"},
        {{"set", "CorvixLink Name", tooLong}, "a text of at most 255 bytes"},
        {{"set-port", "COM0", "/dev/ttyUSB0"}, "an integer from 1 to 256"},
        {{"set-port", "PORT3", "/dev/ttyUSB0"}, "COMn"},
        {{"set-port", "COM3", "ttyUSB0"}, "a device path"},
        {{"set-port", "COM3", "rfc2217://serial-server:4000"}, "a device path"},
    };
    const std::string before = UsersRegistry();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.arguments[1] + " " + c.arguments.back().substr(0, 20));
        std::ofstream(registry, std::ios::binary) << before;
        std::vector<std::string> arguments = {"settings"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        EXPECT_EQ(Run(arguments), 64);
        EXPECT_NE(errors.find(c.allowed), std::string::npos) << errors;
        EXPECT_EQ(ReadWholeFile(registry), before);
        EXPECT_EQ(Entries(), std::vector<std::string>{"registry.reg"});
    }
}

TEST_F(CliSettingsTest, GetPrintsOneValueAsTheListingShowsIt) {
    std::ofstream(registry, std::ios::binary) << UsersRegistry();
    ASSERT_EQ(Run({"settings"}), 0) << errors;
    const std::string listing = output;
    struct Case {
        const char *name;
        const char *shown;
    };
    for (const Case &c :
         {Case{"Com Port", "7"}, Case{"com port", "7"}, Case{"CorvixSys Password", "********"},
          Case{"Stop Bits", "2"}, Case{"Serial Retry Count", "10"},
          Case{"CorvixSys Console Newline", "\\r\\n"}}) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(Run({"settings", "get", c.name}), 0) << errors;
        EXPECT_EQ(output, std::string(c.shown) + "\n");
        if (std::string(c.name) != "com port") {
            EXPECT_NE(listing.find(std::string(c.name) + " = " + output), std::string::npos);
        }
    }
    EXPECT_EQ(ReadWholeFile(registry), UsersRegistry());
}

TEST_F(CliSettingsTest, SetPortMapsTheComNumberAndTheListingShowsThePortMapLast) {
    std::ofstream(registry, std::ios::binary) << UsersRegistry();
    ASSERT_EQ(Run({"settings", "set-port", "COM3", "/dev/ttyUSB0"}), 0) << errors;
    ASSERT_EQ(Run({"settings", "set-port", "com7", "rfc2217://127.0.0.1:4000"}), 0) << errors;
    ASSERT_EQ(Run({"settings", "set-port", "COM3", "/dev/ttyACM1"}), 0) << errors;

    platform::ReloadRegistry();
    EXPECT_EQ(platform::MapComPort(3), "/dev/ttyACM1");
    EXPECT_EQ(platform::MapComPort(7), "rfc2217://127.0.0.1:4000");
    EXPECT_EQ(platform::MapComPort(4), "/dev/ttyS3");
    EXPECT_EQ(platform::RegKey("Software\\Vexlon\\ZEP\\3.02\\Communications").ValueNames().size(),
              3u);

    ASSERT_EQ(Run({"settings"}), 0) << errors;
    const std::string portMap = "[Ports]\nCOM3 = /dev/ttyACM1\nCOM7 = rfc2217://127.0.0.1:4000\n";
    ASSERT_GE(output.size(), portMap.size());
    EXPECT_EQ(output.substr(output.size() - portMap.size()), portMap) << output;
    EXPECT_LT(output.find("Flash table = "), output.find("[Ports]"));
}

TEST_F(CliSettingsTest, AFileLocationWithoutItsFileIsWrittenWithAWarning) {
    const std::string missing = (dir / "bios" / "coldload.bin").string();
    ASSERT_EQ(Run({"settings", "set", "ColdLoader", missing}), 0) << errors;
    EXPECT_NE(errors.find("warning: \"ColdLoader\" is set to " + missing), std::string::npos)
        << errors;
    ASSERT_EQ(Run({"settings", "get", "ColdLoader"}), 0) << errors;
    EXPECT_EQ(output, missing + "\n");

    ASSERT_EQ(Run({"settings", "set", "Flash table", registry.string()}), 0) << errors;
    EXPECT_EQ(errors, "");
}

} // namespace
