#include "SettingsTestSupport.h"

#include <cstdlib>
#include <fstream>

namespace fs = std::filesystem;

void SettingsTest::SetUp() {
    std::string pattern = (fs::temp_directory_path() / "tarnwick-settings-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    fs::create_directories(root_ / "prog");
    ::setenv("TARNWICK_REGISTRY", (root_ / "registry.reg").c_str(), 1);
    Restart();
}

void SettingsTest::TearDown() {
    ::unsetenv("TARNWICK_REGISTRY");
    Restart();
    std::error_code ec;
    fs::remove_all(root_, ec);
}

void SettingsTest::Touch(const std::string &relative) const {
    fs::path path = root_ / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
}

platform::RegKey SettingsTest::Key(const std::string &subkey) {
    return platform::RegKey("Software\\Vexlon\\ZEP\\3.02\\" + subkey);
}
