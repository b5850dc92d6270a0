// Writing what the simulator keeps (its transcript, its flash) to a file, whole or not at all
// reported as written.
#pragma once

#include <cstddef>
#include <string>

namespace sim {

// Replaces path with size bytes from data. False with "path: reason" in error on failure.
bool WriteFileBytes(const std::string &path, const void *data, size_t size, std::string *error);

} // namespace sim
