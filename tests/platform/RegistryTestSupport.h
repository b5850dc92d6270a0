// A private registry file for each registry test, in a folder of its own, and the little file
// helpers those tests share.
#pragma once

#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

namespace registrytest {

std::vector<uint8_t> Bytes(std::initializer_list<int> values);
std::string ReadText(const std::filesystem::path &path);
void WriteText(const std::filesystem::path &path, const std::string &text);

// The key the tests write below.
inline const char *const KeyPath = "Software\\Vexlon\\ZEP\\3.02\\Communications";

class RegistryFileTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Points the registry at path and forgets what was read, as a new start would.
    void UseRegistryFile(const std::filesystem::path &path);
    // The names in the test's folder, sorted.
    std::vector<std::string> FolderEntries() const;

    std::filesystem::path folder_;
    std::filesystem::path file_;
};

} // namespace registrytest
