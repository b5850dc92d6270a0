// The memory of a board running CorvixSys as the host's writes leave it: a sparse 32-bit address
// space kept as runs of written bytes, so that a user program loaded anywhere is stored without a
// 4 GiB image and a test can tell written bytes from untouched ones. Later writes overwrite
// earlier ones; touching or overlapping runs merge into one. Not thread-safe: the owner guards it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sim {

class ProgramMemory {
public:
    // What a host may store in all, well above the largest user program (6 MiB), so that a host
    // writing without end cannot take the simulator's memory.
    static constexpr size_t Capacity = 8u << 20;
    static constexpr uint8_t Untouched = 0xFF;

    // False (and nothing stored) when the bytes would pass the end of the 32-bit space or the
    // capacity.
    bool Write(uint32_t address, const uint8_t *data, size_t count);
    // count bytes from address; bytes never written read as Untouched.
    std::vector<uint8_t> Read(uint32_t address, size_t count) const;
    // The written runs by start address.
    const std::map<uint32_t, std::vector<uint8_t>> &Runs() const { return runs_; }
    size_t BytesStored() const { return stored_; }

    // The runs as user-program records, in address order: address (LE32), length with the 8
    // header bytes (LE32), data. Replaces the file; false with a reason on failure.
    bool Save(const std::string &path, std::string *error = nullptr) const;

private:
    std::map<uint32_t, std::vector<uint8_t>> runs_;
    size_t stored_ = 0;
};

} // namespace sim
