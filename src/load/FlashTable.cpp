#include "load/FlashTable.h"

#include "load/ImageFiles.h"
#include "loader/LoaderErrors.h"
#include "platform/IniFile.h"

#include <cstdio>

namespace {

// Enough for the presence test: any entry at all makes the count non-zero.
constexpr uint32_t SectionBufferSize = 256;

uint16_t ReadValue(const std::string &path, const std::string &section, const char *key,
                   int32_t defaultValue) {
    return static_cast<uint16_t>(
        platform::GetPrivateProfileIntA(section.c_str(), key, defaultValue, path.c_str()));
}

} // namespace

std::string FlashSectionName(uint16_t flashId) {
    char name[8];
    std::snprintf(name, sizeof name, "%04x", static_cast<unsigned>(flashId));
    return name;
}

FlashParameters LookupFlashParameters(const std::string &path, uint16_t flashId) {
    // The ini reader treats a missing file as an empty one, so prove it is there first; the
    // handle is closed again at once.
    if (!OpenForReading(path))
        throw TargetCommException(LoaderErrorFlashTableMissing,
                                  SupportFileProblem(path, "Flash table"));

    const std::string section = FlashSectionName(flashId);
    FlashParameters result;
    char entries[SectionBufferSize];
    if (platform::GetPrivateProfileSectionA(section.c_str(), entries, sizeof entries,
                                            path.c_str()) == 0)
        result.Missing = true;

    result.SectorSize = ReadValue(path, section, "sector size", FlashParameters::DefaultSectorSize);
    result.SectorCount =
        ReadValue(path, section, "num sectors", FlashParameters::DefaultSectorCount);
    result.FlashSize = ReadValue(path, section, "flash size", FlashParameters::DefaultFlashSize);
    result.WriteMode = ReadValue(path, section, "write mode", FlashParameters::DefaultWriteMode);
    return result;
}

std::string DescribeFlashEntry(uint16_t flashId, const FlashParameters &flash) {
    char values[96];
    std::snprintf(values, sizeof values,
                  "flash size %u, sector size %u, num sectors %u, write mode %u",
                  unsigned{flash.FlashSize}, unsigned{flash.SectorSize},
                  unsigned{flash.SectorCount}, unsigned{flash.WriteMode});
    const std::string section = "[" + FlashSectionName(flashId) + "] ";
    if (flash.Missing) return "no " + section + "section in the flash table; defaults: " + values;
    return section + values;
}
