#include "TempFilesSupport.h"

#include <fstream>
#include <random>
#include <stdexcept>

TempFolder::TempFolder() {
    // A name no other run has taken: create_directory says false for one that exists.
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate =
            std::filesystem::temp_directory_path() / ("tarnwick-test-" + std::to_string(random()));
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a scratch folder");
}

TempFolder::~TempFolder() {
    std::error_code ignored; // a leftover scratch folder must not fail the test that made it
    std::filesystem::remove_all(path_, ignored);
}

std::string TempFolder::Write(const std::string &name, const std::vector<uint8_t> &bytes) const {
    const std::filesystem::path file = path_ / name;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + file.string());
    return file.string();
}

std::string TempFolder::WriteText(const std::string &name, const std::string &text) const {
    return Write(name, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> Filler(size_t count) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(i % 0x7F); // never 0x80 or 0xCC
    return bytes;
}
