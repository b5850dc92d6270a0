// A scratch folder for one test, removed with everything in it when the test ends.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;

    const std::filesystem::path &Path() const { return path_; }
    // Writes the bytes (or text) into a file of the folder and returns its full name.
    std::string Write(const std::string &name, const std::vector<uint8_t> &bytes) const;
    std::string WriteText(const std::string &name, const std::string &text) const;

private:
    std::filesystem::path path_;
};

// count bytes of a pattern that contains neither 0xCC nor a cold loader end triplet.
std::vector<uint8_t> Filler(size_t count);
