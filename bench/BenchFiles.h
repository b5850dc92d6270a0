// Files the load benchmarks write for tarnwick's session and read back from corvix-sim.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

namespace bench {

inline void WriteFile(const std::filesystem::path &path, const uint8_t *data, size_t size) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(data), long(size));
}

// Whether the file begins with the size bytes at data (corvix-sim's flash or memory dump).
inline bool FileStartsWith(const std::filesystem::path &path, const uint8_t *data, size_t size) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> stored(size);
    in.read(reinterpret_cast<char *>(stored.data()), long(size));
    return in && std::equal(stored.begin(), stored.end(), data);
}

} // namespace bench
