#include "FileOutput.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace sim {

bool WriteFileBytes(const std::string &path, const void *data, size_t size, std::string *error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) out.write(static_cast<const char *>(data), std::streamsize(size));
    if (out) out.close();
    if (!out) {
        if (error) *error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace sim
