#include "FlashImage.h"

#include "FileOutput.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace sim {

FlashImage::FlashImage() : bytes_(Size, Erased) {}

bool FlashImage::Write(uint32_t address, const uint8_t *data, size_t count) {
    // In 64 bits, so that an address near 4 GiB cannot wrap past the check.
    if (uint64_t(address) + count > Size) return false;
    std::copy(data, data + count, bytes_.begin() + address);
    return true;
}

uint32_t FlashImage::Erase(uint32_t from, uint32_t to) {
    to = std::min(to, Size);
    if (from >= to) return 0;
    std::fill(bytes_.begin() + from, bytes_.begin() + to, Erased);
    return to - from;
}

std::vector<uint8_t> FlashImage::Read(uint32_t address, size_t count) const {
    if (address >= Size) return {};
    const size_t available = std::min<size_t>(count, Size - address);
    return {bytes_.begin() + address, bytes_.begin() + address + long(available)};
}

bool FlashImage::Save(const std::string &path, uint32_t from, uint32_t to,
                      std::string *error) const {
    to = std::min(to, Size);
    from = std::min(from, to);
    return WriteFileBytes(path, bytes_.data() + from, to - from, error);
}

} // namespace sim
