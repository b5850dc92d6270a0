// The world of a whole-load test: a private settings file with the defaults, the sample support
// files of the simulated board, a window for the connections to hook, the engine's own message
// boxes collected, and images made on demand.
#pragma once

#include "loader/LoaderErrors.h"
#include "platform/Messages.h"
#include "platform/Registry.h"
#include "settings/Zepenvironment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

class WholeLoadTest : public ::testing::Test {
protected:
    std::filesystem::path dir;
    platform::HWND window = nullptr;
    std::vector<std::string> engineMessages;

    void SetUp() override {
        namespace fs = std::filesystem;
        dir = fs::temp_directory_path() /
              ("tarnwick-load-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir / "prog");
        ::setenv("TARNWICK_REGISTRY", (dir / "registry.reg").c_str(), 1);
        platform::ReloadRegistry();
        LoadSettings((dir / "prog" / "tarnwick").string());
        const fs::path samples = fs::path(TARNWICK_SOURCE_DIR) / "samples";
        Env().ColdLoaderFile = (samples / "coldload.bin").string();
        Env().PilotBiosFile = (samples / "pilot.bin").string();
        Env().FlashTableFile = (samples / "Flash.ini").string();
        SetMessageFunction([this](const std::string &, const std::string &text) {
            engineMessages.push_back(text);
        });
        window = platform::CreateWindow(QuietWindowProc);
    }

    void TearDown() override {
        platform::DestroyWindow(window);
        SetMessageFunction({});
        ::unsetenv("TARNWICK_REGISTRY");
        platform::ReloadRegistry();
        std::filesystem::remove_all(dir);
    }

    // An image of size bytes in the test's folder, different at every offset.
    std::string Image(size_t size) const {
        std::vector<uint8_t> bytes(size);
        for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 31) ^ (i >> 7));
        const std::filesystem::path path = dir / "image.bin";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()),
                   static_cast<std::streamsize>(size));
        return path.string();
    }

    static std::vector<uint8_t> ReadFile(const std::filesystem::path &path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

private:
    static platform::LRESULT QuietWindowProc(platform::HWND, platform::UINT, platform::WPARAM,
                                             platform::LPARAM) {
        return 0;
    }
};
