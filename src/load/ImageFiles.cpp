#include "load/ImageFiles.h"

#include "loader/LoaderErrors.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace {

// Reads one group of three; bytes past the end of the file read as 0xFF, which can never
// complete an end triplet. Returns the number of bytes really read.
size_t ReadTriplet(std::FILE *file, uint8_t (&triplet)[3]) {
    std::fill(std::begin(triplet), std::end(triplet), uint8_t{0xFF});
    return std::fread(triplet, 1, sizeof triplet, file);
}

bool IsEndTriplet(const uint8_t (&triplet)[3]) {
    return std::equal(std::begin(triplet), std::end(triplet), std::begin(ColdLoaderEndTriplet));
}

// The file's length, leaving it at its start; -1 when it cannot be measured.
long MeasureAndRewind(std::FILE *file) {
    if (std::fseek(file, 0, SEEK_END) != 0)
        return -1;
    const long size = std::ftell(file);
    if (size < 0 || std::fseek(file, 0, SEEK_SET) != 0)
        return -1;
    return size;
}

// Bytes before the first marker, or -1 when the file ends (or fails) first.
long FindMarker(std::FILE *file) {
    uint8_t block[4096];
    long before = 0;
    for (;;) {
        const size_t count = std::fread(block, 1, sizeof block, file);
        if (count == 0)
            return -1;
        if (const void *marker = std::memchr(block, PilotBiosMarker, count))
            return before + (static_cast<const uint8_t *>(marker) - block);
        before += static_cast<long>(count);
    }
}

} // namespace

void FileCloser::operator()(std::FILE *file) const {
    if (file != nullptr)
        std::fclose(file);
}

FileHandle OpenForReading(const std::string &path) {
    // Checked before the open: opening a pipe would block until a writer came along.
    std::error_code error;
    if (path.empty() || !std::filesystem::is_regular_file(path, error))
        return nullptr;
    return FileHandle(std::fopen(path.c_str(), "rb"));
}

uint32_t MeasureColdLoader(const std::string &path) {
    const FileHandle file = OpenForReading(path);
    if (!file)
        throw TargetCommException(LoaderErrorColdLoaderOpen);
    uint32_t weight = 0;
    for (uint32_t group = 0; group < ColdLoaderMeasuredTriplets; ++group) {
        uint8_t triplet[3];
        const size_t count = ReadTriplet(file.get(), triplet);
        if (IsEndTriplet(triplet))
            weight = (group + 1) * 3; // a later end triplet replaces an earlier one
        if (count < sizeof triplet)
            break; // the rest would be all 0xFF
    }
    return std::min(weight, ColdLoaderMaxWeight);
}

int32_t ReadColdLoaderTriplets(const std::string &path, std::vector<uint8_t> &triplets) {
    triplets.clear();
    const FileHandle file = OpenForReading(path);
    if (!file)
        return SupportFileCode::ColdLoaderNotOpened;
    for (uint32_t group = 0; group < ColdLoaderMaxTriplets; ++group) {
        uint8_t triplet[3];
        const size_t count = ReadTriplet(file.get(), triplet);
        if (std::ferror(file.get()))
            return SupportFileCode::ColdLoaderNotOpened;
        if (IsEndTriplet(triplet))
            return 0;
        if (count < sizeof triplet)
            break; // only 0xFF groups would follow: no end triplet can come
        triplets.insert(triplets.end(), std::begin(triplet), std::end(triplet));
    }
    triplets.clear();
    return SupportFileCode::ColdLoaderMalformed;
}

int32_t PilotBiosLength(std::FILE *file, uint16_t &length) {
    if (file == nullptr)
        return SupportFileCode::PilotBiosUnusable;
    const long size = MeasureAndRewind(file);
    if (size < 0)
        return SupportFileCode::PilotBiosUnusable;
    const long before = FindMarker(file);
    if (before < 0)
        return SupportFileCode::PilotBiosUnusable;
    if (std::fseek(file, before + 1, SEEK_SET) != 0)
        return SupportFileCode::PilotBiosUnusable;
    const long fromMarker = size - before;
    // The upload header carries the length in 16 bits; a longer file would go out cut short and
    // still pass the checksum, which covers only what was sent.
    if (fromMarker > 0xFFFF)
        return SupportFileCode::PilotBiosTooLarge;
    length = static_cast<uint16_t>(fromMarker);
    return 0;
}

uint16_t MeasurePilotBiosFile(const std::string &path) {
    const FileHandle file = OpenForReading(path);
    if (!file)
        throw TargetCommException(LoaderErrorPilotBiosOpen);
    uint16_t length = 0;
    if (const int32_t code = PilotBiosLength(file.get(), length); code != 0)
        RaiseLoaderError(code);
    return length;
}

FileHandle OpenImage(const std::string &fileName, int32_t &imageBytes) {
    FileHandle file = OpenForReading(fileName);
    if (!file)
        throw TargetCommException(LoaderErrorProgramOpen);
    const long size = MeasureAndRewind(file.get());
    if (size < 0)
        throw TargetCommException(LoaderErrorProgramOpen);
    // Past the window the addresses run beyond the 1 MB space and then wrap onto the start of
    // the image itself; refuse before anything is erased or sent.
    if (static_cast<unsigned long>(size) > MaxImageBytes)
        throw TargetCommException(LoaderErrorProgramTooLarge);
    imageBytes = static_cast<int32_t>(size);
    return file;
}

void SendBinImage(std::FILE *imageFile, std::vector<uint8_t> &chunk, int32_t chunkSize,
                  Address &writeAddress, int32_t &lastReadCount,
                  const ChunkProgressCallback &progress, const WriteBlockCallback &writeBlock,
                  const PumpCallback &pump) {
    if (imageFile == nullptr)
        throw std::invalid_argument("SendBinImage: no image file");
    if (chunkSize <= 0 || chunkSize > 0xFFFF || chunk.size() < static_cast<size_t>(chunkSize))
        throw std::invalid_argument("SendBinImage: chunk size does not fit the buffer or a block");
    const auto chunkBytes = static_cast<size_t>(chunkSize);
    while (!std::feof(imageFile)) {
        if (pump)
            pump();
        std::fill_n(chunk.begin(), chunkBytes, uint8_t{0});
        const size_t count = std::fread(chunk.data(), 1, chunkBytes, imageFile);
        if (std::ferror(imageFile))
            throw TargetCommException(LoaderErrorProgramRead);
        lastReadCount = static_cast<int32_t>(count);
        if (count == 0)
            break;
        // The bar moves by a whole chunk even for a short last one; the counter by what was read.
        progress(static_cast<uint32_t>(count), static_cast<uint32_t>(chunkSize));
        writeBlock(ImageBase + writeAddress.ToPhysical(), static_cast<uint16_t>(count),
                   chunk.data());
        writeAddress = writeAddress.Advanced(static_cast<uint32_t>(count));
    }
}
