// The board's 1 MiB physical address space as the pilot BIOS writes it. Programs live in the flash
// window 0x80000-0xFFFFF; writes below it are kept too (they land in RAM on a real board) so that
// nothing the host sends is silently lost. Erased bytes read 0xFF. Writes overwrite rather than
// AND into the old contents: the simulated flash forgives a missing erase, so two loads in a row
// without one still leave the second image intact. Not thread-safe: the owner guards it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class FlashImage {
public:
    static constexpr uint32_t Size = 0x100000;
    static constexpr uint32_t WindowStart = 0x80000;
    static constexpr uint8_t Erased = 0xFF;

    FlashImage();

    // False (and nothing written) when the bytes do not fit below Size.
    bool Write(uint32_t address, const uint8_t *data, size_t count);
    // Erases [from, to), clamped to the address space; returns the number of bytes erased.
    uint32_t Erase(uint32_t from, uint32_t to);
    // Up to count bytes from address; fewer at the end of the space.
    std::vector<uint8_t> Read(uint32_t address, size_t count) const;
    // Writes [from, to) to a file (replacing it). False with a reason on failure.
    bool Save(const std::string &path, uint32_t from, uint32_t to,
              std::string *error = nullptr) const;

private:
    std::vector<uint8_t> bytes_;
};

} // namespace sim
