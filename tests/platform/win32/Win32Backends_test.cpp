// The Windows backends against the real system: the user's registry, the comm API's answer for
// a port that does not exist, the COM names, and the wake handle that ends a socket poll.
#include "platform/Poll.h"
#include "platform/Registry.h"
#include "platform/Serial.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

namespace {

using platform::RegType;

// A key of its own below HKCU for each test program run, removed afterwards.
class RegistryTest : public testing::Test {
protected:
    const std::string key =
        "Software\\Tarnwick Tests\\run" + std::to_string(::GetCurrentProcessId());

    void TearDown() override { ::RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str()); }

    // What another program would do: write the value straight into the registry.
    void StoreDirectly(const std::string &name, uint32_t number) const {
        HKEY handle = nullptr;
        ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                    nullptr, &handle, nullptr),
                  ERROR_SUCCESS);
        const DWORD value = number;
        ASSERT_EQ(::RegSetValueExA(handle, name.c_str(), 0, REG_DWORD,
                                   reinterpret_cast<const BYTE *>(&value), sizeof value),
                  ERROR_SUCCESS);
        ::RegCloseKey(handle);
    }
};

TEST_F(RegistryTest, EveryTypeReadsBackByteForByteAndIsListedWhateverTheCase) {
    struct Case {
        const char *name;
        RegType type;
        std::vector<uint8_t> data;
    };
    const std::vector<Case> cases = {
        {"Baud Rate", RegType::Dword, {0x00, 0x08, 0x07, 0x00}},
        {"Last File", RegType::String, {'C', ':', '\\', 'a', '.', 'b', 'i', 'n', 0}},
        {"Empty", RegType::String, {0}},
        {"Password", RegType::Binary, {0x00, 0xFF, 0x10}},
        {"Paths", RegType::MultiString, {'a', 0, 'b', 0, 0}},
        {"Expand", RegType::ExpandString, {'%', 'T', '%', 0}},
    };
    platform::RegKey regKey(key);
    for (const Case &c : cases) regKey.SetRaw(c.name, c.type, c.data);

    const platform::RegKey again(key + "\\"); // a trailing backslash names the same key
    // Windows lists values in creation order, Wine by name: only the set is the same everywhere.
    std::vector<std::string> names;
    for (const Case &c : cases) names.push_back(c.name);
    std::vector<std::string> listed = again.ValueNames();
    std::sort(names.begin(), names.end());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, names);
    for (const Case &c : cases) {
        std::string shouted = c.name;
        for (char &letter : shouted) letter = static_cast<char>(std::toupper(letter));
        const auto value = again.Query(shouted);
        ASSERT_TRUE(value) << c.name;
        EXPECT_EQ(value->type, c.type) << c.name;
        EXPECT_EQ(value->data, c.data) << c.name;
    }
    EXPECT_EQ(platform::DwordOf(*again.Query("Baud Rate")), 460800u);
    EXPECT_TRUE(regKey.DeleteValue("Empty"));
    EXPECT_FALSE(regKey.DeleteValue("Empty"));
    EXPECT_FALSE(again.Query("Empty"));
}

TEST_F(RegistryTest, AnUnchangedValueLeavesAnotherProgramsNewerOneAlone) {
    platform::RegKey regKey(key);
    regKey.SetDword("Kept", 1);
    regKey.SetDword("Taken", 1);
    ASSERT_EQ(platform::DwordOf(*regKey.Query("Kept")), 1u);
    StoreDirectly("Kept", 2);
    StoreDirectly("Taken", 2);

    platform::RegBatch batch;
    batch.Set(key, platform::DwordValue("Kept", 1), platform::RegMerge::Unchanged);
    batch.Set(key, platform::DwordValue("Taken", 3), platform::RegMerge::Changed);
    batch.Set(key, platform::DwordValue("New", 4), platform::RegMerge::Unchanged);
    batch.Commit();

    EXPECT_EQ(platform::DwordOf(*regKey.Query("Kept")), 2u);
    EXPECT_EQ(platform::DwordOf(*regKey.Query("Taken")), 3u);
    EXPECT_EQ(platform::DwordOf(*regKey.Query("New")), 4u);
}

TEST(Win32Serial, COMNamesAreTheSystemsOwnDevices) {
    EXPECT_EQ(platform::MapComPort(3), "\\\\.\\COM3");
    EXPECT_EQ(platform::MapComPort(12), "\\\\.\\COM12");
    EXPECT_EQ(platform::DefaultComPortOf("\\\\.\\COM12"), 12);
    EXPECT_EQ(platform::DefaultComPortOf("com7"), 7);
    EXPECT_EQ(platform::DefaultComPortOf("/dev/ttyS0"), 0);
    EXPECT_TRUE(platform::IsSerialDeviceName("\\\\.\\COM4"));
    EXPECT_FALSE(platform::IsSerialDeviceName("/dev/ttyUSB0"));
}

TEST(Win32Serial, APortThatDoesNotExistFailsWithTheSystemsReasonAndAHint) {
    platform::SerialError error;
    EXPECT_EQ(platform::OpenSerialDevice("\\\\.\\COM219", &error), nullptr);
    EXPECT_EQ(error.code, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(error.description.rfind("\\\\.\\COM219: ", 0), 0u) << error.description;
    EXPECT_NE(error.description.find("plugged in"), std::string::npos) << error.description;
}

TEST(Win32Poll, AWakeFromAnotherThreadEndsAPollAndIsDrainedOnce) {
    platform::WakeFd wake;
    ASSERT_TRUE(wake.Valid());
    platform::PollEntry entry{wake.Get(), platform::PollIn, 0};
    EXPECT_EQ(platform::Poll(&entry, 1, 0), 0);
    std::thread waker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        wake.Signal();
    });
    EXPECT_EQ(platform::Poll(&entry, 1, 10000), 1);
    waker.join();
    EXPECT_TRUE(entry.revents & platform::PollIn);
    EXPECT_TRUE(wake.Drain());
    EXPECT_FALSE(wake.Drain());
    // A skipped entry alone is a plain bounded sleep.
    platform::PollEntry skipped{-1, platform::PollIn, 0};
    EXPECT_EQ(platform::Poll(&skipped, 1, 5), 0);
}

} // namespace
