#include "RegistryTestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace registrytest {

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values) out.push_back(static_cast<uint8_t>(v));
    return out;
}

std::string ReadText(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const fs::path &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

void RegistryFileTest::SetUp() {
    std::string pattern = (fs::temp_directory_path() / "tarnwick-reg-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    UseRegistryFile(folder_ / "registry.reg");
}

void RegistryFileTest::TearDown() {
    ::unsetenv("TARNWICK_REGISTRY");
    platform::ReloadRegistry();
    std::error_code ec;
    fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(folder_, ec);
}

void RegistryFileTest::UseRegistryFile(const fs::path &path) {
    file_ = path;
    ::setenv("TARNWICK_REGISTRY", path.c_str(), 1);
    platform::ReloadRegistry();
}

std::vector<std::string> RegistryFileTest::FolderEntries() const {
    std::vector<std::string> names;
    for (const fs::directory_entry &entry : fs::directory_iterator(folder_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace registrytest
