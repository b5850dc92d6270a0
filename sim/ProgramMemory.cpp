#include "ProgramMemory.h"

#include "FileOutput.h"
#include "WireBytes.h"

#include <algorithm>

namespace sim {

bool ProgramMemory::Write(uint32_t address, const uint8_t *data, size_t count) {
    if (count == 0) return true;
    // In 64 bits: the end of a run at the top of the space is 2^32.
    const uint64_t end = uint64_t(address) + count;
    if (end > uint64_t(UINT32_MAX) + 1) return false;
    // The new run swallows every run it touches or overlaps; bytes of theirs outside it survive.
    uint64_t start = address, last = end;
    auto first = runs_.upper_bound(address);
    if (first != runs_.begin()) {
        auto before = std::prev(first);
        if (uint64_t(before->first) + before->second.size() >= address) first = before;
    }
    auto past = first;
    size_t swallowed = 0;
    for (; past != runs_.end() && past->first <= end; ++past) {
        start = std::min<uint64_t>(start, past->first);
        last = std::max<uint64_t>(last, past->first + past->second.size());
        swallowed += past->second.size();
    }
    const size_t merged = size_t(last - start);
    if (stored_ - swallowed + merged > Capacity) return false;
    std::vector<uint8_t> run(merged, Untouched);
    for (auto it = first; it != past; ++it)
        std::copy(it->second.begin(), it->second.end(), run.begin() + long(it->first - start));
    std::copy(data, data + count, run.begin() + long(address - start));
    runs_.erase(first, past);
    runs_.emplace(uint32_t(start), std::move(run));
    stored_ = stored_ - swallowed + merged;
    return true;
}

std::vector<uint8_t> ProgramMemory::Read(uint32_t address, size_t count) const {
    std::vector<uint8_t> bytes(count, Untouched);
    const uint64_t end = uint64_t(address) + count;
    auto it = runs_.upper_bound(address);
    if (it != runs_.begin()) --it;
    for (; it != runs_.end() && it->first < end; ++it) {
        const uint64_t runStart = it->first, runEnd = runStart + it->second.size();
        const uint64_t from = std::max<uint64_t>(runStart, address);
        const uint64_t to = std::min<uint64_t>(runEnd, end);
        for (uint64_t a = from; a < to; ++a)
            bytes[size_t(a - address)] = it->second[size_t(a - runStart)];
    }
    return bytes;
}

bool ProgramMemory::Save(const std::string &path, std::string *error) const {
    std::vector<uint8_t> out;
    for (const auto &[address, data] : runs_) {
        PutLe32(out, address);
        PutLe32(out, uint32_t(data.size() + 8));
        out.insert(out.end(), data.begin(), data.end());
    }
    return WriteFileBytes(path, out.data(), out.size(), error);
}

} // namespace sim
