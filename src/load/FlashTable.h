// The flash table: a text file beside the program with one section per flash chip, named by the
// chip's 16-bit flash ID, that tells the pilot BIOS the chip's geometry and write mode. Adding a
// chip means adding a section; the program itself knows no chips.
#pragma once

#include <cstdint>
#include <string>

struct FlashParameters {
    // What a chip without a section (or a section without the key) gets.
    static constexpr int32_t DefaultSectorSize = 128;
    static constexpr int32_t DefaultSectorCount = 1;
    static constexpr int32_t DefaultFlashSize = 16;
    static constexpr int32_t DefaultWriteMode = 2;

    // Each is the low 16 bits of the value in the file, as the pilot BIOS takes them.
    uint16_t FlashSize = DefaultFlashSize;     // "flash size"
    uint16_t SectorSize = DefaultSectorSize;   // "sector size"
    uint16_t SectorCount = DefaultSectorCount; // "num sectors"
    uint16_t WriteMode = DefaultWriteMode;     // "write mode"
    // The table has no section for the ID, or the section has no entries: the defaults went out.
    bool Missing = false;
};

// The section name of a flash ID: four lower-case hexadecimal digits ("00bf"). Section names
// match without regard to case, so a section written "00BF" is found too.
std::string FlashSectionName(uint16_t flashId);

// Looks flashId up in the flash table at path (read fresh, never written). A missing section is
// not an error: the defaults come back with Missing set. Raises TargetCommException 24 when the
// file cannot be opened (also for an empty path).
FlashParameters LookupFlashParameters(const std::string &path, uint16_t flashId);

// The entry as the load's summary shows it: "[01a4] flash size 16, sector size 128, num sectors
// 1, write mode 2", or that the table has none and the defaults went out.
std::string DescribeFlashEntry(uint16_t flashId, const FlashParameters &flash);
