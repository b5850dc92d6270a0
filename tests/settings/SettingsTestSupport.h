// A private world for a settings test: a temporary folder holding the registry file and a program
// folder "prog" (the program's path is prog/tarnwick), so file searches see only what a test puts
// there.
#pragma once

#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

class SettingsTest : public ::testing::Test {
public:
    // A key below this release's settings key, e.g. Key("Communications").
    static platform::RegKey Key(const std::string &subkey);

protected:
    void SetUp() override;
    void TearDown() override;

    // Creates an empty file (and its folders) below the test folder.
    void Touch(const std::string &relative) const;
    std::string Path(const std::string &relative) const { return (root_ / relative).string(); }
    std::string ProgramPath() const { return Path("prog/tarnwick"); }
    // Forgets the registry held in memory, so the next use reads the file as a new start would.
    static void Restart() { platform::ReloadRegistry(); }

    std::filesystem::path root_;
};
