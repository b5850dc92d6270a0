#include "files/SupportFiles.h"

#include <cerrno>

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace {

// Bytes before the first marker, or -1 when the file ends (or fails) first.
long FindMarker(std::FILE *file) {
    uint8_t block[4096];
    long before = 0;
    for (;;) {
        const size_t count = std::fread(block, 1, sizeof block, file);
        if (count == 0) return -1;
        if (const void *marker = std::memchr(block, PilotBiosMarker, count))
            return before + (static_cast<const uint8_t *>(marker) - block);
        before += static_cast<long>(count);
    }
}

} // namespace

long MeasureAndRewind(std::FILE *file) {
    if (std::fseek(file, 0, SEEK_END) != 0) return -1;
    const long size = std::ftell(file);
    if (size < 0 || std::fseek(file, 0, SEEK_SET) != 0) return -1;
    return size;
}

size_t ReadTriplet(std::FILE *file, uint8_t (&triplet)[3]) {
    std::fill(std::begin(triplet), std::end(triplet), uint8_t{0xFF});
    return std::fread(triplet, 1, sizeof triplet, file);
}

bool IsEndTriplet(const uint8_t (&triplet)[3]) {
    return std::equal(std::begin(triplet), std::end(triplet), std::begin(ColdLoaderEndTriplet));
}

void FileCloser::operator()(std::FILE *file) const {
    if (file != nullptr) std::fclose(file);
}

FileHandle OpenForReading(const std::string &path) {
    // Checked before the open: opening a pipe would block until a writer came along.
    std::error_code error;
    if (path.empty() || !std::filesystem::is_regular_file(path, error)) return nullptr;
    return FileHandle(std::fopen(path.c_str(), "rb"));
}

std::string WhyNotReadable(const std::string &path) {
    if (path.empty()) return "no file is set";
    const std::string &name = path;
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error) return name + ": " + error.message();
    if (std::filesystem::is_directory(status)) return name + ": is a folder, not a file";
    if (!std::filesystem::is_regular_file(status)) return name + ": is not a regular file";
    const FileHandle file(std::fopen(path.c_str(), "rb"));
    if (!file) return name + ": " + std::strerror(errno);
    return name + ": could not be read";
}

std::string SupportFileProblem(const std::string &path, const char *settingName) {
    return WhyNotReadable(path) +
           "; set its place in Options > File Locations, or with "
           "tarnwick-cli settings set \"" +
           settingName + "\" FILE";
}

int32_t ReadColdLoaderTriplets(const std::string &path, std::vector<uint8_t> &triplets) {
    triplets.clear();
    const FileHandle file = OpenForReading(path);
    if (!file) return SupportFileCode::ColdLoaderNotOpened;
    for (uint32_t group = 0; group < ColdLoaderMaxTriplets; ++group) {
        uint8_t triplet[3];
        const size_t count = ReadTriplet(file.get(), triplet);
        if (std::ferror(file.get())) return SupportFileCode::ColdLoaderNotOpened;
        if (IsEndTriplet(triplet)) return 0;
        if (count < sizeof triplet) break; // only 0xFF groups would follow: no end triplet can come
        triplets.insert(triplets.end(), std::begin(triplet), std::end(triplet));
    }
    triplets.clear();
    return SupportFileCode::ColdLoaderMalformed;
}

int32_t PilotBiosLength(std::FILE *file, uint16_t &length) {
    if (file == nullptr) return SupportFileCode::PilotBiosUnusable;
    const long size = MeasureAndRewind(file);
    if (size < 0) return SupportFileCode::PilotBiosUnusable;
    const long before = FindMarker(file);
    if (before < 0) return SupportFileCode::PilotBiosUnusable;
    if (std::fseek(file, before + 1, SEEK_SET) != 0) return SupportFileCode::PilotBiosUnusable;
    const long fromMarker = size - before;
    // The upload header carries the length in 16 bits; a longer file would go out cut short and
    // still pass the checksum, which covers only what was sent.
    if (fromMarker > 0xFFFF) return SupportFileCode::PilotBiosTooLarge;
    length = static_cast<uint16_t>(fromMarker);
    return 0;
}
