// The support files and the image as a bootstrap load reads them: the cold loader's triplets up
// to its end triplet and its progress weight, the pilot BIOS's marker and upload length, and the
// image cut into addressed blocks. Each result is checked against the same rule worked out here
// directly on the bytes.
#include "FuzzSupport.h"

#include "load/ImageFiles.h"
#include "loader/LoaderErrors.h"

#include <optional>

namespace {

constexpr int32_t ImageChunk = 128;

bool EndTripletAt(const uint8_t *data, size_t size, size_t group) {
    return 3 * group + 3 <= size &&
           std::equal(data + 3 * group, data + 3 * group + 3, ColdLoaderEndTriplet);
}

void CheckColdLoader(const uint8_t *data, size_t size, const std::string &path) {
    std::optional<size_t> end;
    for (size_t group = 0; group < ColdLoaderMaxTriplets && !end; ++group)
        if (EndTripletAt(data, size, group)) end = group;
    std::vector<uint8_t> triplets;
    const int32_t code = ReadColdLoaderTriplets(path, triplets);
    if (end) {
        fuzz::Check(code == 0, "a cold loader with its end triplet was refused");
        fuzz::Check(triplets == std::vector<uint8_t>(data, data + 3 * *end),
                    "the triplets are not those before the end");
    } else {
        fuzz::Check(code == SupportFileCode::ColdLoaderMalformed && triplets.empty(),
                    "a cold loader without an end triplet was taken");
    }
    uint32_t weight = 0;
    for (uint32_t group = 0; group < ColdLoaderMeasuredTriplets; ++group)
        if (EndTripletAt(data, size, group)) weight = (group + 1) * 3;
    fuzz::Check(MeasureColdLoader(path) == std::min(weight, ColdLoaderMaxWeight),
                "the cold loader's weight is wrong");
}

void CheckPilotBios(const uint8_t *data, size_t size, const std::string &path) {
    const uint8_t *marker = std::find(data, data + size, PilotBiosMarker);
    const size_t fromMarker = static_cast<size_t>(data + size - marker);
    try {
        const uint16_t length = MeasurePilotBiosFile(path);
        fuzz::Check(marker != data + size && fromMarker <= 0xFFFF && length == fromMarker,
                    "the pilot BIOS's length is not the bytes from its marker");
    } catch (const TargetCommException &error) {
        const int32_t expected =
            marker == data + size ? LoaderErrorPilotBiosSendOpen : LoaderErrorPilotBiosTooLarge;
        fuzz::Check(error.Code() == expected, "the pilot BIOS failed with another code");
    }
}

void CheckImage(const uint8_t *data, size_t size, const std::string &path) {
    int32_t imageBytes = 0;
    const FileHandle image = OpenImage(path, imageBytes);
    fuzz::Check(static_cast<size_t>(imageBytes) == size, "the image's length is wrong");
    std::vector<uint8_t> chunk(ImageChunk);
    std::vector<uint8_t> sent;
    Address address;
    int32_t lastRead = 0;
    SendBinImage(
        image.get(), chunk, ImageChunk, address, lastRead, [](uint32_t, uint32_t) {},
        [&](uint32_t physical, uint16_t length, const uint8_t *block) {
            fuzz::Check(physical == ImageBase + sent.size() && length <= ImageChunk,
                        "a block out of place");
            sent.insert(sent.end(), block, block + length);
        });
    fuzz::Check(sent == std::vector<uint8_t>(data, data + size),
                "the blocks do not make up the image");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static fuzz::ScratchFile file;
    static const bool quiet =
        (SetMessageFunction([](const std::string &, const std::string &) {}), true);
    (void)quiet;
    const std::string &path = file.Write(data, size);
    CheckColdLoader(data, size, path);
    CheckPilotBios(data, size, path);
    CheckImage(data, size, path);
    return 0;
}
