// The flash table lookup: a chip's section found by its ID in any table file, and its four
// numbers read with their defaults. Input: the flash ID (two bytes, little-endian), then the file.
#include "FuzzSupport.h"

#include "load/FlashTable.h"
#include "loader/LoaderErrors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static fuzz::ScratchFile file;
    if (size < 2) return 0;
    const auto flashId = static_cast<uint16_t>(data[0] | data[1] << 8);
    const std::string &path = file.Write(data + 2, size - 2);
    const FlashParameters flash = LookupFlashParameters(path, flashId);
    if (flash.Missing) {
        // No entries at all: every number is its default.
        fuzz::Check(flash.FlashSize == FlashParameters::DefaultFlashSize &&
                        flash.SectorSize == FlashParameters::DefaultSectorSize &&
                        flash.SectorCount == FlashParameters::DefaultSectorCount &&
                        flash.WriteMode == FlashParameters::DefaultWriteMode,
                    "a chip without entries got a number that is not the default");
    }
    return 0;
}
