// User program files (*.upl) as tests need them: records laid out behind a header whose total
// and digest are computed from them, or deliberately set wrong.
#pragma once

#include "platform/Md5.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace upltest {

struct Record {
    uint32_t address = 0;
    std::vector<uint8_t> data;
    std::optional<uint32_t> length; // the record length field when it must lie (else 8 + data)
};

// count bytes, different at every offset and from one seed to another.
inline std::vector<uint8_t> Pattern(size_t count, uint8_t seed = 1) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>((i * 13 + seed * 101) ^ (i >> 8));
    return bytes;
}

inline void PutLe32(std::vector<uint8_t> &out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

class Builder {
public:
    Builder &Add(uint32_t address, std::vector<uint8_t> data) {
        records_.push_back({address, std::move(data), std::nullopt});
        return *this;
    }
    Builder &AddRaw(Record record) {
        records_.push_back(std::move(record));
        return *this;
    }
    // Overrides the total length (default: the sum of the record lengths).
    Builder &Total(uint32_t total) {
        total_ = total;
        return *this;
    }
    // The digest covers only the first count records (default: all).
    Builder &DigestOf(size_t count) {
        digestRecords_ = count;
        return *this;
    }
    Builder &FlipDigestBit(unsigned bit) {
        flip_ = bit;
        return *this;
    }

    std::vector<uint8_t> Bytes() const {
        uint32_t total = 0;
        platform::Md5Context md5;
        for (size_t i = 0; i < records_.size(); ++i) {
            total += LengthOf(records_[i]);
            if (i < digestRecords_.value_or(records_.size()))
                md5.Update(records_[i].data.data(), records_[i].data.size());
        }
        platform::Md5Digest digest = md5.Final();
        if (flip_) digest[*flip_ / 8] ^= static_cast<uint8_t>(1u << (*flip_ % 8));
        std::vector<uint8_t> out;
        PutLe32(out, 0x4C505543); // not read by the loader
        PutLe32(out, total_.value_or(total));
        PutLe32(out, 0);
        out.insert(out.end(), digest.begin(), digest.end());
        for (const Record &record : records_) {
            PutLe32(out, record.address);
            PutLe32(out, LengthOf(record));
            out.insert(out.end(), record.data.begin(), record.data.end());
        }
        return out;
    }

private:
    static uint32_t LengthOf(const Record &record) {
        return record.length.value_or(static_cast<uint32_t>(8 + record.data.size()));
    }

    std::vector<Record> records_;
    std::optional<uint32_t> total_;
    std::optional<size_t> digestRecords_;
    std::optional<unsigned> flip_;
};

} // namespace upltest
