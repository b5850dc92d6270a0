#include "load/ImageFiles.h"

#include "loader/LoaderErrors.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace {

std::string TooLargeDetail(const std::string &fileName, long size) {
    char sizes[128];
    std::snprintf(sizes, sizeof sizes, ": %ld bytes; the flash from 0x%x takes at most %u bytes",
                  size, static_cast<unsigned>(ImageBase), static_cast<unsigned>(MaxImageBytes));
    return fileName + sizes;
}

} // namespace

uint32_t MeasureColdLoader(const std::string &path) {
    const FileHandle file = OpenForReading(path);
    if (!file)
        throw TargetCommException(LoaderErrorColdLoaderOpen,
                                  SupportFileProblem(path, "ColdLoader"));
    uint32_t weight = 0;
    for (uint32_t group = 0; group < ColdLoaderMeasuredTriplets; ++group) {
        uint8_t triplet[3];
        const size_t count = ReadTriplet(file.get(), triplet);
        if (IsEndTriplet(triplet))
            weight = (group + 1) * 3;      // a later end triplet replaces an earlier one
        if (count < sizeof triplet) break; // the rest would be all 0xFF
    }
    return std::min(weight, ColdLoaderMaxWeight);
}

uint16_t MeasurePilotBiosFile(const std::string &path) {
    const FileHandle file = OpenForReading(path);
    if (!file)
        throw TargetCommException(LoaderErrorPilotBiosOpen, SupportFileProblem(path, "PilotBIOS"));
    uint16_t length = 0;
    if (const int32_t code = PilotBiosLength(file.get(), length); code != 0) RaiseLoaderError(code);
    return length;
}

FileHandle OpenImage(const std::string &fileName, int32_t &imageBytes) {
    FileHandle file = OpenForReading(fileName);
    if (!file) throw TargetCommException(LoaderErrorProgramOpen, WhyNotReadable(fileName));
    const long size = MeasureAndRewind(file.get());
    if (size < 0) throw TargetCommException(LoaderErrorProgramOpen, WhyNotReadable(fileName));
    // Past the window the addresses run beyond the 1 MB space and then wrap onto the start of
    // the image itself; refuse before anything is erased or sent.
    if (static_cast<unsigned long>(size) > MaxImageBytes)
        throw TargetCommException(LoaderErrorProgramTooLarge, TooLargeDetail(fileName, size));
    imageBytes = static_cast<int32_t>(size);
    return file;
}

void SendBinImage(std::FILE *imageFile, std::vector<uint8_t> &chunk, int32_t chunkSize,
                  Address &writeAddress, int32_t &lastReadCount,
                  const ChunkProgressCallback &progress, const WriteBlockCallback &writeBlock,
                  const PumpCallback &pump) {
    if (imageFile == nullptr) throw std::invalid_argument("SendBinImage: no image file");
    if (chunkSize <= 0 || chunkSize > 0xFFFF || chunk.size() < static_cast<size_t>(chunkSize))
        throw std::invalid_argument("SendBinImage: chunk size does not fit the buffer or a block");
    const auto chunkBytes = static_cast<size_t>(chunkSize);
    while (!std::feof(imageFile)) {
        if (pump) pump();
        std::fill_n(chunk.begin(), chunkBytes, uint8_t{0});
        const size_t count = std::fread(chunk.data(), 1, chunkBytes, imageFile);
        if (std::ferror(imageFile))
            throw TargetCommException(LoaderErrorProgramRead,
                                      std::string("reading the image failed: ") +
                                          std::strerror(errno));
        lastReadCount = static_cast<int32_t>(count);
        if (count == 0) break;
        // The bar moves by a whole chunk even for a short last one; the counter by what was read.
        progress(static_cast<uint32_t>(count), static_cast<uint32_t>(chunkSize));
        writeBlock(ImageBase + writeAddress.ToPhysical(), static_cast<uint16_t>(count),
                   chunk.data());
        writeAddress = writeAddress.Advanced(static_cast<uint32_t>(count));
    }
}
