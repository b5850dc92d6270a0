#include "targetos/UserProgramFile.h"

#include "loader/LoaderErrors.h"
#include "platform/Md5.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

uint32_t LittleEndian32(const uint8_t *bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

constexpr size_t TotalOffset = 4;
constexpr size_t DigestOffset = 12;
// The digest is fed in pieces of this size, so a large record needs no buffer of its size.
constexpr size_t DigestPiece = 4096;

} // namespace

UserProgramFile::UserProgramFile(const std::string &path) : file_(OpenForReading(path)) {
    // Unreadable the way a program image is: the same message as on the bootstrap road.
    if (!file_) throw TargetCommException(LoaderErrorProgramOpen, WhyNotReadable(path));
    if (std::fread(header_.data(), 1, header_.size(), file_.get()) != header_.size())
        throw TargetCommException(LoaderErrorUserProgramFormat);
    total_ = LittleEndian32(header_.data() + TotalOffset);
}

void UserProgramFile::ReadExactly(uint8_t *data, size_t count) {
    // A file that ends early would otherwise leave the digest to decide on bytes it never had.
    if (count != 0 && std::fread(data, 1, count, file_.get()) != count)
        throw TargetCommException(LoaderErrorUserProgramFormat);
}

bool UserProgramFile::NextRecord(UplRecord &record) {
    if (consumed_ >= total_) return false;
    uint8_t head[UplRecordHeaderSize];
    ReadExactly(head, sizeof head);
    record.address = LittleEndian32(head);
    record.length = LittleEndian32(head + 4);
    // A length below its own header would make the data length wrap to nearly 4 GiB, and a
    // length of 0 would never bring the sum to the total.
    if (record.length < UplRecordHeaderSize)
        throw TargetCommException(LoaderErrorUserProgramFormat);
    // Compared before the addition, so the sum cannot wrap past the limit.
    if (record.length > UplMaxTotal - consumed_)
        throw TargetCommException(LoaderErrorUserProgramDigest);
    consumed_ += record.length;
    return true;
}

void UserProgramFile::ReadData(const UplRecord &record, std::vector<uint8_t> &data) {
    try {
        data.resize(record.DataLength());
    } catch (const std::bad_alloc &) {
        throw TargetCommException(LoaderErrorNoMemory);
    }
    ReadExactly(data.data(), data.size());
}

void UserProgramFile::Rewind() {
    if (std::fseek(file_.get(), 0, SEEK_SET) != 0 ||
        std::fread(header_.data(), 1, header_.size(), file_.get()) != header_.size())
        throw TargetCommException(LoaderErrorUserProgramFormat);
    total_ = LittleEndian32(header_.data() + TotalOffset);
    consumed_ = 0;
}

void UserProgramFile::Verify() {
    platform::Md5Context digest;
    UplRecord record;
    uint8_t piece[DigestPiece];
    while (NextRecord(record)) {
        for (uint32_t left = record.DataLength(); left > 0;) {
            const size_t count = std::min<size_t>(left, sizeof piece);
            ReadExactly(piece, count);
            digest.Update(piece, count);
            left -= static_cast<uint32_t>(count);
        }
    }
    const platform::Md5Digest computed = digest.Final();
    if (!std::equal(computed.begin(), computed.end(), header_.begin() + DigestOffset))
        throw TargetCommException(LoaderErrorUserProgramDigest);
    Rewind();
}

void SendUserProgram(UserProgramFile &file, const UplProgressCallback &progress,
                     const WriteBlockCallback &writeBlock, const UplPumpCallback &pump) {
    std::vector<uint8_t> data;
    uint8_t block[UplBlockSize];
    UplRecord record;
    for (;;) {
        pump();
        if (!file.NextRecord(record)) return;
        file.ReadData(record, data);
        const uint32_t size = record.DataLength();
        uint32_t offset = 0;
        for (; size - offset >= UplBlockSize; offset += UplBlockSize) {
            pump();
            progress(UplBlockSize);
            writeBlock(record.address + offset, UplBlockSize, data.data() + offset);
        }
        if (offset == size) {
            // No piece is left to stand for the record's header bytes: they count on their own,
            // so that the progress reaches the total length the range was set to.
            if (record.length > size) progress(record.length - size);
            continue;
        }
        // The last piece goes as a whole block; the board takes the zero bytes behind it.
        std::memset(block, 0, sizeof block);
        std::memcpy(block, data.data() + offset, size - offset);
        pump();
        progress(record.length - offset);
        writeBlock(record.address + offset, UplBlockSize, block);
    }
}
