#include "SettingsTestSupport.h"

#include "settings/SettingsTable.h"

#include <algorithm>
#include <sstream>

using platform::DwordOf;
using platform::StringOf;

namespace {

using SettingsTableTest = SettingsTest;

// Sets one value as "tarnwick-cli settings set" does.
bool SetOne(const std::string &name, const std::string &text, std::string &error) {
    const Setting *setting = FindSetting(name);
    EXPECT_NE(setting, nullptr) << name;
    if (!setting || !ApplySettingText(*setting, Env(), text, error)) return false;
    WriteSetting(*setting, Env());
    return true;
}

TEST(SettingsTableRows, NamesAreUniqueAndFoundInAnyCase) {
    EXPECT_EQ(CommunicationsSettings().size(), 42u);
    EXPECT_STREQ(CommunicationsSettings().back().Name, "Discovery Broadcast Address");
    for (auto rows : {CommunicationsSettings(), FileLocationSettings()})
        for (const Setting &row : rows) EXPECT_EQ(FindSetting(row.Name), &row) << row.Name;
    EXPECT_STREQ(FindSetting("pilotbios")->Name, "PilotBIOS");
    EXPECT_STREQ(FindSetting("COM PORT")->Key, "Communications");
    EXPECT_EQ(FindSetting("Com Port "), nullptr);
    EXPECT_EQ(FindSetting("File0"), nullptr);
}

TEST_F(SettingsTableTest, SettingOneValueWritesThatValueOnly) {
    LoadSettings(ProgramPath());
    std::string error;
    ASSERT_TRUE(SetOne("com port", "4", error)) << error;
    EXPECT_EQ(Key("Communications").ValueNames(), std::vector<std::string>{"Com Port"});
    EXPECT_EQ(DwordOf(*Key("Communications").Query("Com Port")), 4u);
    ASSERT_TRUE(SetOne("Flash table", "/etc/Flash.ini", error)) << error;
    EXPECT_EQ(Key("File Locations").ValueNames(), std::vector<std::string>{"Flash table"});
    ASSERT_TRUE(SetOne("USB to Serial Delay", "500", error)) << error;
    EXPECT_EQ(DwordOf(*Key("Communications").Query("USB to Serial Delay")), 500u);
    Restart();
    LoadSettings(ProgramPath());
    EXPECT_EQ(Env().Comm.ComPort, 4);
    EXPECT_EQ(Env().FlashTableFile, "/etc/Flash.ini");
}

TEST_F(SettingsTableTest, TypedValuesAreStoredAsTheRegistryHoldsThem) {
    LoadSettings(ProgramPath());
    std::string error;
    ASSERT_TRUE(SetOne("CorvixLink TCP Port", "0xFFFF", error)) << error;
    EXPECT_EQ(DwordOf(*Key("Communications").Query("CorvixLink TCP Port")), 65535u);
    ASSERT_TRUE(SetOne("Max Negotiated Baud", "230400", error)) << error;
    EXPECT_EQ(Env().Comm.MaxNegotiatedBaud, 230400);
    ASSERT_TRUE(SetOne("CorvixSys Address", "10.0.0.9", error)) << error;
    EXPECT_STREQ(Env().Comm.CorvixSysAddress, "10.0.0.9");
    ASSERT_TRUE(SetOne("CorvixSys Console Newline", "\\n", error));
    EXPECT_STREQ(Env().Comm.ConsoleNewline, "\n");
    EXPECT_EQ(StringOf(*Key("Communications").Query("CorvixSys Console Newline")), "\\n");
}

TEST_F(SettingsTableTest, IntegerTextsThatAreNotIntegersAreRefused) {
    LoadSettings(ProgramPath());
    for (const char *text : {"", "12x", "x12", "4294967296", "-2147483649", "0x", "1.5", "--1",
                             "4294967295", "-2147483648"}) {
        std::string error;
        EXPECT_FALSE(SetOne("Com Port", text, error)) << text;
        EXPECT_NE(error.find("Com Port"), std::string::npos) << error;
    }
    EXPECT_TRUE(Key("Communications").ValueNames().empty());
    EXPECT_EQ(Env().Comm.ComPort, 1);
    std::string error;
    EXPECT_TRUE(SetOne("Com Port", "0x20", error)) << error;
    EXPECT_EQ(Env().Comm.ComPort, 32);
}

TEST_F(SettingsTableTest, ListingShowsEverySettingWithThePasswordMasked) {
    Key("Communications").SetString("CorvixSys Password", "hunter2");
    Key("Recent Files\\Recent bin files").SetString("File0", "/data/image.bin");
    LoadSettings(ProgramPath());
    std::ostringstream out;
    PrintSettings(out, Env());
    std::string text = out.str();
    EXPECT_EQ(text.find("hunter2"), std::string::npos);
    EXPECT_NE(text.find("CorvixSys Password = ********\n"), std::string::npos);
    EXPECT_NE(text.find("CorvixSys Console Newline = \\r\\n\n"), std::string::npos);
    EXPECT_NE(text.find("Serial Retry Count = 10\n"), std::string::npos);
    EXPECT_NE(text.find("Discovery Broadcast Address = 255.255.255.255\n"), std::string::npos);
    EXPECT_NE(text.find("ColdLoader = " + Path("prog/coldload.bin") + "\n"), std::string::npos);
    EXPECT_NE(text.find("File0 = /data/image.bin\n"), std::string::npos);
    // 3 section lines, 42 values, 3 locations, 1 recent file.
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 49);
}

} // namespace
