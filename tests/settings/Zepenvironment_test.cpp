#include "SettingsTestSupport.h"

#include "settings/Version.h"
#include "comm/CommLogSwitches.h"
#include "loader/LoaderEngine.h"
#include "settings/Zepenvironment.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using platform::DwordOf;
using platform::RegType;
using platform::StringOf;

namespace {

// The values a save writes to "Communications", in the order it writes them.
const std::vector<std::string> SavedCommunicationNames = {
    "UseTCP",
    "UseCorvixLink",
    "UseCorvixSys",
    "Serial Response Timeout",
    "Ethernet Response Timeout",
    "Serial Retry Count",
    "Ethernet Retry Count",
    "Com Port",
    "Stop Bits",
    "CorvixLink TCP Port",
    "CorvixSys TCP Port",
    "Load through CorvixSys",
    "Use USB to Serial Converter",
    "CorvixLink Address",
    "CorvixLink Name",
    "CorvixSys Address",
    "CorvixSys UserName",
    "CorvixSys Password",
    "CorvixSys Console Greeting Message",
    "CorvixSys Console User Name Prompt",
    "CorvixSys Console Password Required Message",
    "CorvixSys Console Password Prompt",
    "CorvixSys Console Logged In Message",
    "CorvixSys Console Bad User Name Message",
    "CorvixSys Console Prompt",
    "CorvixSys Target Mode Command",
    "CorvixSys Target Mode Message",
    "CorvixSys Console Newline",
    "Coldload Baud Rate",
    "Pilot Bios Baud Rate",
    "Bios Baud Rate",
    "Disable Baud Negotiation",
    "Max Negotiated Baud",
    "Pilot Bios Physical Adress",
    "Detect Processor",
    "Enable TC Logging",
    "Log Verbose",
    "Log Non-packet Writes",
    "Log Non-packet Reads",
    "Log Packet Data"};

uint32_t StoredNumber(const std::string &subkey, const std::string &name) {
    auto value = SettingsTest::Key(subkey).Query(name);
    EXPECT_TRUE(value) << name;
    auto number = value ? DwordOf(*value) : std::nullopt;
    EXPECT_TRUE(number) << name;
    return number.value_or(0xDEADBEEF);
}

std::string StoredText(const std::string &subkey, const std::string &name) {
    auto value = SettingsTest::Key(subkey).Query(name);
    EXPECT_TRUE(value) << name;
    auto text = value ? StringOf(*value) : std::nullopt;
    EXPECT_TRUE(text) << name;
    return text.value_or("<not a string>");
}

using ZepenvironmentTest = SettingsTest;

TEST_F(ZepenvironmentTest, FirstStartGivesTheDefaultsAndWritesNothing) {
    LoadSettings(ProgramPath());
    const Environment &env = Env();
    const CommOptions &c = env.Comm;
    EXPECT_EQ(env.KeyPath, "Software\\Vexlon\\ZEP\\3.02\\");
    EXPECT_EQ(env.ProgramFolder, Path("prog/"));
    EXPECT_EQ(c.UseTCP, 0);
    EXPECT_EQ(c.UseCorvixLink, 0);
    EXPECT_EQ(c.UseCorvixSys, 1);
    EXPECT_EQ(c.SerialResponseTimeout, 200);
    EXPECT_EQ(c.EthernetResponseTimeout, 8000);
    EXPECT_EQ(c.SerialRetryCount, 10);
    EXPECT_EQ(c.EthernetRetryCount, 0);
    EXPECT_EQ(c.ComPort, 1);
    EXPECT_EQ(c.StopBits, 0);
    EXPECT_EQ(c.CorvixLinkTcpPort, 4244);
    EXPECT_EQ(c.CorvixSysTcpPort, 65023);
    EXPECT_EQ(env.LoadThroughCorvixSys, 0);
    EXPECT_STREQ(c.CorvixLinkAddress, "");
    EXPECT_STREQ(c.CorvixSysPassword, "");
    EXPECT_STREQ(c.ConsoleGreetingMessage, "220 Vex-Lon CorvixSys Console");
    EXPECT_STREQ(c.ConsoleUserNamePrompt, "Username:");
    EXPECT_STREQ(c.ConsolePasswordRequiredMessage, "331 Password required");
    EXPECT_STREQ(c.ConsolePasswordPrompt, "Password:");
    EXPECT_STREQ(c.ConsoleLoggedInMessage, "230 User logged in.");
    EXPECT_STREQ(c.ConsoleBadUserNameMessage, "530 Bad Username/Password");
    EXPECT_STREQ(c.ConsolePrompt, "CON:");
    EXPECT_STREQ(c.TargetModeCommand, "targetmd");
    EXPECT_STREQ(c.TargetModeMessage, "200 targetmd");
    EXPECT_STREQ(c.ConsoleNewline, "\r\n");
    EXPECT_EQ(env.ColdloadBaudRate, 2400);
    EXPECT_EQ(env.PilotBiosBaudRate, 57600);
    EXPECT_EQ(env.BiosBaudRate, 115200);
    EXPECT_EQ(c.DisableBaudNegotiation, 0);
    EXPECT_EQ(c.MaxNegotiatedBaud, 460800);
    EXPECT_EQ(c.PilotBiosPhysicalAdress, 0x4000);
    EXPECT_EQ(c.DetectProcessor, 1);
    EXPECT_EQ(c.BaudRate, 0);
    EXPECT_EQ(env.DiscoveryBroadcastAddress, "255.255.255.255");
    const CommLogSwitches &log = LogSwitches();
    EXPECT_EQ(log.EnableTcLogging, 0);
    EXPECT_EQ(log.LogVerbose, 1);
    EXPECT_EQ(log.LogNonPacketWrites, 0);
    EXPECT_EQ(log.LogNonPacketReads, 1);
    EXPECT_EQ(log.LogPacketData, 1);
    uint8_t flag = 9;
    int32_t delay = 0;
    GetUsbSerialDelay(flag, delay);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(delay, 2000);
    // Nothing found by the searches: each names the first place it looked.
    EXPECT_EQ(env.ColdLoaderFile, Path("prog/coldload.bin"));
    EXPECT_EQ(env.PilotBiosFile, Path("prog/pilot.bin"));
    EXPECT_EQ(env.FlashTableFile, Path("prog/Flash.ini"));
    EXPECT_TRUE(env.RecentFiles.empty());
    EXPECT_FALSE(fs::exists(Path("registry.reg")));
}

TEST_F(ZepenvironmentTest, FirstExitWritesFortyValuesTheRecentFilesAndTheLocations) {
    LoadSettings(ProgramPath());
    Env().RecentFiles = {"/data/a.bin", "/data/b.bin"};
    SaveSettings();
    Restart();
    EXPECT_EQ(Key("Communications").ValueNames(), SavedCommunicationNames);
    EXPECT_EQ(StoredNumber("Communications", "UseCorvixSys"), 1u);
    EXPECT_EQ(StoredNumber("Communications", "CorvixSys TCP Port"), 65023u);
    EXPECT_EQ(StoredText("Communications", "CorvixSys Console Prompt"), "CON:");
    EXPECT_EQ(StoredText("Communications", "CorvixSys Console Newline"), "\\r\\n");
    EXPECT_EQ(StoredText("Communications", "CorvixLink Address"), "");
    EXPECT_EQ(Key("Recent Files\\Recent bin files").ValueNames(),
              (std::vector<std::string>{"File0", "File1"}));
    EXPECT_EQ(StoredText("Recent Files\\Recent bin files", "File1"), "/data/b.bin");
    EXPECT_EQ(Key("File Locations").ValueNames(),
              (std::vector<std::string>{"ColdLoader", "PilotBIOS", "Flash table"}));
    EXPECT_EQ(StoredText("File Locations", "Flash table"), Path("prog/Flash.ini"));
}

TEST_F(ZepenvironmentTest, SecondStartReadsBackWhatTheFirstExitWrote) {
    LoadSettings(ProgramPath());
    Env().Comm.ComPort = 7;
    SetField(Env().Comm.CorvixSysUserName, "operator");
    Env().LoadThroughCorvixSys = 1;
    Env().BiosBaudRate = 230400;
    LogSwitches().EnableTcLogging = 1;
    SetUsbSerialDelay(1, 2000);
    SaveSettings();
    SetUsbSerialDelay(0, 2000);
    LogSwitches() = CommLogSwitches{};
    Restart();
    LoadSettings(ProgramPath());
    EXPECT_EQ(Env().Comm.ComPort, 7);
    EXPECT_STREQ(Env().Comm.CorvixSysUserName, "operator");
    EXPECT_EQ(Env().LoadThroughCorvixSys, 1);
    EXPECT_EQ(Env().BiosBaudRate, 230400);
    EXPECT_EQ(LogSwitches().EnableTcLogging, 1);
    uint8_t flag = 0;
    int32_t delay = 0;
    GetUsbSerialDelay(flag, delay);
    EXPECT_EQ(flag, 1);
}

TEST_F(ZepenvironmentTest, ConsoleNewlineRoundTripsInItsNotation) {
    for (auto [stored, held] : {std::pair<std::string, std::string>{"\\r\\n", "\r\n"},
                                {"x\\n", "x\n"},
                                {"\\t\\v\\b\\f", "\t\v\b\f"}}) {
        Key("Communications").SetString("CorvixSys Console Newline", stored);
        LoadSettings(ProgramPath());
        EXPECT_EQ(std::string(Env().Comm.ConsoleNewline), held) << stored;
        SaveSettings();
        EXPECT_EQ(StoredText("Communications", "CorvixSys Console Newline"), stored);
    }
}

TEST(NewlineNotation, DecodesEveryEscapeAndEncodesTheControlCharacters) {
    EXPECT_EQ(DecodeNewline("\\q"), "\n");  // unknown letters give a line feed
    EXPECT_EQ(DecodeNewline("a\\"), "a\n"); // so does a backslash at the very end
    EXPECT_EQ(DecodeNewline("\\\\"), "\n"); // the second backslash is the escaped character
    EXPECT_EQ(DecodeNewline("ab"), "ab");
    EXPECT_EQ(DecodeNewline(""), "");
    EXPECT_EQ(EncodeNewline("\b\t\n\v\f\r"), "\\b\\t\\n\\v\\f\\r");
    EXPECT_EQ(EncodeNewline("a\x01"), "a\x01");
}

TEST_F(ZepenvironmentTest, PortsKeepTheirLowSixteenBits) {
    Key("Communications").SetDword("CorvixLink TCP Port", 70000);
    Key("Communications").SetDword("CorvixSys TCP Port", 0xFFFFFFFF);
    LoadSettings(ProgramPath());
    EXPECT_EQ(Env().Comm.CorvixLinkTcpPort, 4464);
    EXPECT_EQ(Env().Comm.CorvixSysTcpPort, 65535);
    SaveSettings();
    EXPECT_EQ(StoredNumber("Communications", "CorvixLink TCP Port"), 4464u);
}

TEST_F(ZepenvironmentTest, IntegersAndFlagsKeepTheirRules) {
    auto key = Key("Communications");
    key.SetDword("Stop Bits", 2);
    key.SetDword("Serial Response Timeout", static_cast<uint32_t>(-5));
    key.SetDword("Enable TC Logging", 7);
    key.SetDword("Load through CorvixSys", 0x100);
    key.SetDword("Use USB to Serial Converter", 5);
    key.SetDword("USB to Serial Delay", 750);
    LoadSettings(ProgramPath());
    EXPECT_EQ(Env().Comm.StopBits, 2);
    EXPECT_EQ(Env().Comm.SerialResponseTimeout, -5);
    EXPECT_EQ(LogSwitches().EnableTcLogging, 1);
    EXPECT_EQ(Env().LoadThroughCorvixSys, 1);
    uint8_t flag = 0;
    int32_t delay = 0;
    GetUsbSerialDelay(flag, delay);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(delay, 750);
    SaveSettings();
    EXPECT_EQ(StoredNumber("Communications", "Stop Bits"), 2u);
    EXPECT_EQ(StoredNumber("Communications", "Enable TC Logging"), 1u);
    EXPECT_EQ(StoredNumber("Communications", "Load through CorvixSys"), 1u);
    EXPECT_EQ(StoredNumber("Communications", "Use USB to Serial Converter"), 1u);
    EXPECT_EQ(StoredNumber("Communications", "Serial Response Timeout"), static_cast<uint32_t>(-5));
}

TEST_F(ZepenvironmentTest, ReadOnlyValuesAreNeverWritten) {
    Key("Communications").SetString("Discovery Broadcast Address", "127.0.0.1");
    LoadSettings(ProgramPath());
    EXPECT_EQ(Env().DiscoveryBroadcastAddress, "127.0.0.1");
    SetUsbSerialDelay(0, 1234);
    SaveSettings();
    EXPECT_FALSE(Key("Communications").Query("USB to Serial Delay"));
    EXPECT_EQ(Key("Communications").ValueNames().size(), 41u); // the 40 and the stored address
}

TEST_F(ZepenvironmentTest, WronglyTypedValuesTakeTheirDefaults) {
    auto key = Key("Communications");
    key.SetDword("CorvixSys Console Prompt", 5);
    key.SetString("Com Port", "3");
    key.SetRaw("Bios Baud Rate", RegType::Dword, {1, 2});
    key.SetRaw("CorvixLink Name", RegType::Binary, {'a', 0});
    testing::internal::CaptureStderr();
    LoadSettings(ProgramPath());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_STREQ(Env().Comm.ConsolePrompt, "CON:");
    EXPECT_EQ(Env().Comm.ComPort, 1);
    EXPECT_EQ(Env().BiosBaudRate, 115200);
    EXPECT_STREQ(Env().Comm.CorvixLinkName, "");
    // One line for each wrongly typed string value, none for the integers.
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
    EXPECT_NE(err.find("\"CorvixSys Console Prompt\""), std::string::npos) << err;
    EXPECT_NE(err.find("\"CorvixLink Name\""), std::string::npos) << err;
}

TEST_F(ZepenvironmentTest, EmptyAndExpandStringsAreReadAsText) {
    auto key = Key("Communications");
    key.SetString("CorvixSys Console Prompt", "");
    std::string text = "svc>";
    key.SetRaw("CorvixSys Target Mode Command", RegType::ExpandString,
               std::vector<uint8_t>(text.c_str(), text.c_str() + text.size() + 1));
    LoadSettings(ProgramPath());
    EXPECT_STREQ(Env().Comm.ConsolePrompt, "CON:");
    EXPECT_STREQ(Env().Comm.TargetModeCommand, "svc>");
}

TEST_F(ZepenvironmentTest, LongTextsAreCutToTheirFields) {
    Key("Communications").SetString("CorvixLink Address", "192.168.100.200:4244");
    Key("Communications").SetString("CorvixSys Password", std::string(300, 'p'));
    Key("Communications")
        .SetString("CorvixSys Console Newline",
                   std::string(200, 'x') + "\\r\\n" + std::string(100, 'y'));
    LoadSettings(ProgramPath());
    EXPECT_EQ(std::string(Env().Comm.CorvixLinkAddress), "192.168.100.200");
    EXPECT_EQ(std::string(Env().Comm.CorvixSysPassword), std::string(255, 'p'));
    EXPECT_EQ(std::strlen(Env().Comm.ConsoleNewline), 255u);
    EXPECT_EQ(Env().Comm.ConsoleNewline[200], '\r');
}

TEST_F(ZepenvironmentTest, RecentFilesComeInRegistryOrderCutToTen) {
    auto recent = Key("Recent Files\\Recent bin files");
    recent.SetString("File1", "/second");
    recent.SetString("File0", "/first");
    for (int i = 2; i < 12; ++i)
        recent.SetString("File" + std::to_string(i), "/f" + std::to_string(i));
    LoadSettings(ProgramPath());
    ASSERT_EQ(Env().RecentFiles.size(), 10u);
    EXPECT_EQ(Env().RecentFiles[0], "/second");
    EXPECT_EQ(Env().RecentFiles[1], "/first");
    EXPECT_EQ(Env().RecentFiles[9], "/f9");
    SaveSettings();
    // Names beyond the list stay as they were; they are read (and cut) again next time.
    EXPECT_EQ(StoredText("Recent Files\\Recent bin files", "File0"), "/second");
    EXPECT_EQ(StoredText("Recent Files\\Recent bin files", "File11"), "/f11");
}

TEST_F(ZepenvironmentTest, RecentFilesSkipValuesThatAreNotText) {
    auto recent = Key("Recent Files\\Recent bin files");
    recent.SetString("File0", "/a");
    recent.SetDword("File1", 1);
    recent.SetString("File2", "/c");
    testing::internal::CaptureStderr();
    LoadSettings(ProgramPath());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Env().RecentFiles, (std::vector<std::string>{"/a", "/c"}));
    EXPECT_NE(err.find("File1"), std::string::npos);
}

TEST_F(ZepenvironmentTest, SaveKeepsOtherValuesInPlaceAndByteForByte) {
    auto key = Key("Communications");
    const std::vector<uint8_t> multi = {'a', 0, 'b', 0, 0};
    const std::vector<uint8_t> blob = {0, 1, 0xFE, 0xFF};
    key.SetRaw("Extra List", RegType::MultiString, multi);
    key.SetDword("Stop Bits", 2);
    key.SetRaw("Extra Blob", RegType::Binary, blob);
    LoadSettings(ProgramPath());
    SaveSettings();
    Restart();
    std::vector<std::string> names = Key("Communications").ValueNames();
    ASSERT_EQ(names.size(), 42u);
    EXPECT_EQ(names[0], "Extra List");
    EXPECT_EQ(names[1], "Stop Bits");
    EXPECT_EQ(names[2], "Extra Blob");
    EXPECT_EQ(names[3], "UseTCP");
    auto list = Key("Communications").Query("Extra List");
    EXPECT_EQ(list->type, RegType::MultiString);
    EXPECT_EQ(list->data, multi);
    EXPECT_EQ(Key("Communications").Query("Extra Blob")->data, blob);
}

TEST_F(ZepenvironmentTest, StoredFileLocationsWinOverTheSearch) {
    Touch("prog/coldload.bin");
    Key("File Locations").SetString("ColdLoader", "/opt/cold.bin");
    Key("File Locations").SetString("pilotbios", "/opt/pilot.bin"); // any letter case
    Key("File Locations").SetString("Flash table", "");
    LoadSettings(ProgramPath());
    EXPECT_EQ(Env().ColdLoaderFile, "/opt/cold.bin");
    EXPECT_EQ(Env().PilotBiosFile, "/opt/pilot.bin");
    EXPECT_EQ(Env().FlashTableFile, Path("prog/Flash.ini")); // empty: searched
}

TEST_F(ZepenvironmentTest, SearchesFindSupportFilesBesideAndAboveTheProgram) {
    Touch("bios/coldload.bin");
    Touch("bios/pilot.bin");
    Touch("prog/bios/pilot.bin");
    Touch("Flash.ini");
    LoadSettings(ProgramPath());
    EXPECT_EQ(Env().ColdLoaderFile, Path("bios/coldload.bin"));
    EXPECT_EQ(Env().PilotBiosFile, Path("prog/bios/pilot.bin"));
    EXPECT_EQ(Env().FlashTableFile, Path("Flash.ini"));
    Touch("prog/coldload.bin");
    Touch("prog/pilot.bin");
    Touch("prog/Flash.ini");
    LoadSettings(ProgramPath());
    EXPECT_EQ(Env().ColdLoaderFile, Path("prog/coldload.bin"));
    EXPECT_EQ(Env().PilotBiosFile, Path("prog/pilot.bin"));
    EXPECT_EQ(Env().FlashTableFile, Path("prog/Flash.ini"));
}

// The package puts the programs in <prefix>/bin and the samples in <prefix>/share/tarnwick/samples:
// a first start of an installed program finds them, and a user's own files still come first.
TEST_F(ZepenvironmentTest, AnInstalledProgramFindsThePackagedSamplesLast) {
    for (const char *name : {"coldload.bin", "pilot.bin", "Flash.ini"})
        Touch(std::string("share/tarnwick/samples/") + name);
    LoadSettings(ProgramPath());
    EXPECT_EQ(Env().ColdLoaderFile, Path("share/tarnwick/samples/coldload.bin"));
    EXPECT_EQ(Env().PilotBiosFile, Path("share/tarnwick/samples/pilot.bin"));
    EXPECT_EQ(Env().FlashTableFile, Path("share/tarnwick/samples/Flash.ini"));
    Touch("bios/coldload.bin");
    Touch("prog/pilot.bin");
    Touch("Flash.ini");
    LoadSettings(ProgramPath());
    EXPECT_EQ(Env().ColdLoaderFile, Path("bios/coldload.bin"));
    EXPECT_EQ(Env().PilotBiosFile, Path("prog/pilot.bin"));
    EXPECT_EQ(Env().FlashTableFile, Path("Flash.ini"));
}

TEST_F(ZepenvironmentTest, AFolderIsNotASupportFile) {
    fs::create_directories(Path("bios/coldload.bin"));
    LoadSettings(ProgramPath());
    EXPECT_EQ(Env().ColdLoaderFile, Path("prog/coldload.bin"));
}

TEST_F(ZepenvironmentTest, ValueThatCannotBeWrittenEndsTheSave) {
    std::ofstream(Path("plain")) << "a file, not a folder";
    ::setenv("TARNWICK_REGISTRY", Path("plain/registry.reg").c_str(), 1);
    Restart();
    LoadSettings(ProgramPath());
    EXPECT_EQ(Env().Comm.UseCorvixSys, 1);
    EXPECT_THROW(SaveSettings(), platform::RegistryError);
    EXPECT_TRUE(Key("Communications").ValueNames().empty());
    EXPECT_TRUE(Key("File Locations").ValueNames().empty());
}

TEST(ProgramFolders, FolderAndParentFollowThePath) {
    EXPECT_EQ(ProgramFolderOf("/opt/tarnwick/bin/tarnwick"), "/opt/tarnwick/bin/");
    EXPECT_EQ(ParentFolderOf("/opt/tarnwick/bin/"), "/opt/tarnwick/");
    EXPECT_EQ(ParentFolderOf("/opt/"), "/");
    EXPECT_EQ(ParentFolderOf("/"), "");
    EXPECT_EQ(ParentFolderOf(""), "");
    EXPECT_EQ(InstalledDataFolderOf("/usr/bin/"), "/usr/share/tarnwick/");
    EXPECT_EQ(InstalledDataFolderOf("/bin/"), "/share/tarnwick/");
    EXPECT_EQ(InstalledDataFolderOf("/"), "");
    std::string current = fs::current_path().string();
    EXPECT_EQ(ProgramFolderOf("sub/tarnwick"), current + "/sub/");
    // A bare name came through PATH: the running executable's folder stands in.
    std::string own = ProgramFolderOf("tarnwick");
    EXPECT_EQ(own, fs::read_symlink("/proc/self/exe").parent_path().string() + "/");
}

TEST(VersionModule, TextHasNoPaddingOrSeparator) {
    EXPECT_EQ(VersionText(), "3.02");
    static_assert(VersionMajor() == 3 && VersionMinor() == 0 && VersionRelease() == 2);
}

} // namespace
