// A user program file (*.upl) for a board that runs CorvixSys: its header, its records, and the
// check of the records against the header's total length and MD5 digest. Integers are
// little-endian.
//
//   header (28 bytes): 4 unread, total length (sum of the record lengths), 4 unread, MD5 of the
//                      data bytes of all records in file order (record headers excluded)
//   record: load address (4), record length including these 8 bytes (4), data
//
// Records are read until their lengths add up to the total length; a record that overshoots
// it is the last one. Every length comes from the file, so every one is checked before use.
// Failures raise TargetCommException: 3 (cannot be opened), 25 (shorter than its header or its
// total, or a record shorter than its own header), 26 (the running sum beyond 0x600000, or a
// digest that differs).
#pragma once

#include "load/ImageFiles.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr size_t UplHeaderSize = 28;
inline constexpr size_t UplRecordHeaderSize = 8;
// The operating system stores user programs up to this size.
inline constexpr uint32_t UplMaxTotal = 0x600000;
// The blocks the records go out in.
inline constexpr uint32_t UplBlockSize = 128;

struct UplRecord {
    uint32_t address = 0;
    uint32_t length = 0; // with the 8 header bytes
    uint32_t DataLength() const { return length - static_cast<uint32_t>(UplRecordHeaderSize); }
};

class UserProgramFile {
public:
    // Opens the file and reads its header. Raises 3 or 25.
    explicit UserProgramFile(const std::string &path);

    uint32_t TotalLength() const { return total_; }
    const std::array<uint8_t, UplHeaderSize> &Header() const { return header_; }

    // Checks every record's data against the header's digest, then goes back to the first
    // record. Raises 25 or 26.
    void Verify();
    // The next record header, or false when the records have reached the total length.
    // Raises 25 (file ends, record shorter than 8) or 26 (running sum beyond 0x600000).
    bool NextRecord(UplRecord &record);
    // The data of the record just read, into data (resized to fit). Raises 5 when it cannot be
    // allocated, 25 when the file ends first.
    void ReadData(const UplRecord &record, std::vector<uint8_t> &data);
    // Back to the first record.
    void Rewind();

private:
    void ReadExactly(uint8_t *data, size_t count);

    FileHandle file_;
    std::array<uint8_t, UplHeaderSize> header_{};
    uint32_t total_ = 0;
    uint32_t consumed_ = 0;
};

// Sends the records of a verified file in blocks of UplBlockSize: whole blocks as they are, the
// last piece of a record padded with zero bytes to a whole block. progress(n) comes before each
// block with the bytes it stands for (128, or for the last piece the record length minus what
// went as whole blocks); pump before each record and each block.
using UplProgressCallback = std::function<void(uint32_t bytes)>;
using UplPumpCallback = std::function<void()>;
void SendUserProgram(UserProgramFile &file, const UplProgressCallback &progress,
                     const WriteBlockCallback &writeBlock, const UplPumpCallback &pump);
