// Saving the settings while another program (tarnwick-cli settings set, a second desktop
// program) changes the same file: one replacement per save, and the value that was changed wins.
#include "SettingsTestSupport.h"

#include "platform/posix/RegistryHive.h"
#include "settings/SettingsTable.h"
#include "support/RegistryReplacements.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>

namespace fs = std::filesystem;
using platform::DwordOf;
using platform::DwordValue;
using platform::RegValue;
using platform::StringOf;
using platform::StringValue;
namespace regfile = platform::regfile;

namespace {

using SettingsSaveTest = SettingsTest;

// Another program storing one value: the file changes under this program, whose registry in
// memory stays as it was read.
void AnotherProgramStores(const std::string &subkey, const RegValue &value) {
    const std::string path = platform::RegistryFilePath();
    regfile::CreateFoldersFor(path);
    regfile::HiveLock lock(path);
    regfile::HiveFile file = regfile::ReadHiveFile(path);
    regfile::PutValue(file.hive.Key("Software\\Vexlon\\ZEP\\3.02\\" + subkey), value);
    regfile::WriteHiveFile(path, file.hive);
}

// One setting as the tests handle it: where it is stored, and how the desktop program changes it.
struct Field {
    const char *subkey;
    const char *name;
    std::function<RegValue(const std::string &)> stored;
    std::function<void(const std::string &)> setInProgram;
    std::function<std::optional<std::string>(const RegValue &)> read;
};

const Field ComPort{"Communications", "Com Port",
                    [](const std::string &v) { return DwordValue("Com Port", std::stoul(v)); },
                    [](const std::string &v) { Env().Comm.ComPort = std::stoi(v); },
                    [](const RegValue &r) -> std::optional<std::string> {
                        auto n = DwordOf(r);
                        return n ? std::optional(std::to_string(*n)) : std::nullopt;
                    }};
const Field FirstRecentFile{
    "Recent Files\\Recent bin files", "File0",
    [](const std::string &v) { return StringValue("File0", v); },
    [](const std::string &v) { Env().RecentFiles.insert(Env().RecentFiles.begin(), v); }, StringOf};
const Field ColdLoader{"File Locations", "ColdLoader",
                       [](const std::string &v) { return StringValue("ColdLoader", v); },
                       [](const std::string &v) { Env().ColdLoaderFile = v; }, StringOf};

struct SaveCase {
    const char *name;
    const Field *field;
    std::optional<std::string> atStart;   // in the file when the program starts; nothing: no file
    std::optional<std::string> elsewhere; // stored by another program while it runs
    std::optional<std::string> inProgram; // set in the program before it exits
    std::string expected;                 // in the file after the exit
};

TEST_F(SettingsSaveTest, ExitKeepsWhatAnotherProgramChangedUnlessThisOneChangedItToo) {
    const std::vector<SaveCase> cases = {
        {"set elsewhere while open", &ComPort, "3", "7", std::nullopt, "7"},
        {"changed by both: the exiting program wins", &ComPort, "3", "7", "5", "5"},
        {"changed by this program only", &ComPort, "3", std::nullopt, "5", "5"},
        {"changed here back to what was loaded", &ComPort, "3", "7", "3", "7"},
        {"first start, set elsewhere while open", &ComPort, std::nullopt, "7", std::nullopt, "7"},
        {"first start, nothing set", &ComPort, std::nullopt, std::nullopt, std::nullopt, "1"},
        {"recent file stored elsewhere", &FirstRecentFile, "/a.bin", "/b.bin", std::nullopt,
         "/b.bin"},
        {"recent file loaded here too", &FirstRecentFile, "/a.bin", "/b.bin", "/c.bin", "/c.bin"},
        {"file location set elsewhere", &ColdLoader, "/cold.bin", "/other.bin", std::nullopt,
         "/other.bin"},
    };
    for (const SaveCase &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(Path("registry.reg"));
        Restart();
        if (c.atStart)
            Key(c.field->subkey)
                .SetRaw(c.field->name, c.field->stored(*c.atStart).type,
                        c.field->stored(*c.atStart).data);
        Restart();
        LoadSettings(ProgramPath());
        if (c.elsewhere) AnotherProgramStores(c.field->subkey, c.field->stored(*c.elsewhere));
        if (c.inProgram) c.field->setInProgram(*c.inProgram);
        RegistryReplacements replacements;
        SaveSettings();
        EXPECT_EQ(replacements.Count(), 1);
        Restart();
        auto value = Key(c.field->subkey).Query(c.field->name);
        ASSERT_TRUE(value);
        EXPECT_EQ(c.field->read(*value), c.expected);
        // Whatever happened to this one value, the save wrote every other one.
        EXPECT_EQ(Key("Communications").ValueNames().size(), 40u);
        EXPECT_EQ(Key("File Locations").ValueNames().size(), 3u);
    }
}

TEST_F(SettingsSaveTest, SettingOneValueReplacesTheFileOnceAndKeepsTheOthers) {
    LoadSettings(ProgramPath());
    SaveSettings();
    AnotherProgramStores("Communications", DwordValue("Stop Bits", 2));
    const Setting *comPort = FindSetting("Com Port");
    ASSERT_NE(comPort, nullptr);
    Env().Comm.ComPort = 9;
    RegistryReplacements replacements;
    WriteSetting(*comPort, Env());
    EXPECT_EQ(replacements.Count(), 1);
    Restart();
    EXPECT_EQ(DwordOf(*Key("Communications").Query("Com Port")), 9u);
    EXPECT_EQ(DwordOf(*Key("Communications").Query("Stop Bits")), 2u);
}

TEST_F(SettingsSaveTest, SettingsFromADamagedFileSurviveTheExitAndTheOriginalIsKept) {
    const std::string damaged = "Windows Registry Editor Version 5.00\n\n"
                                "[HKEY_CURRENT_USER\\Software\\Vexlon\\ZEP\\3.02\\Communications]\n"
                                "\"Com Port\"=dword:00000004\n"
                                "\"Stop Bits\"=dword:zz\n"
                                "\"CorvixSys Address\"=\"10.0.0.9\"\n";
    std::ofstream(Path("registry.reg"), std::ios::binary) << damaged;
    Restart();
    testing::internal::CaptureStderr();
    LoadSettings(ProgramPath());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(Path("registry.reg") + " line 5: "), std::string::npos) << err;
    EXPECT_EQ(Env().Comm.ComPort, 4);
    EXPECT_STREQ(Env().Comm.CorvixSysAddress, "10.0.0.9");
    EXPECT_EQ(Env().Comm.StopBits, 0);
    EXPECT_FALSE(fs::exists(Path("registry.reg.bad"))); // reading sets nothing aside
    testing::internal::CaptureStderr();
    SaveSettings();
    testing::internal::GetCapturedStderr();
    std::ifstream aside(Path("registry.reg.bad"), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(aside), {}), damaged);
    Restart();
    EXPECT_EQ(DwordOf(*Key("Communications").Query("Com Port")), 4u);
    EXPECT_EQ(StringOf(*Key("Communications").Query("CorvixSys Address")), "10.0.0.9");
}

} // namespace
