#include "comm/CommOptions.h"

#include <algorithm>
#include <cstring>

void CopyToField(char *field, size_t size, std::string_view text) {
    if (size == 0) return;
    // Longer texts are cut: the record has no room for more, and a cut text is what the
    // connection would have sent anyway.
    size_t length = std::min(text.size(), size - 1);
    std::memcpy(field, text.data(), length);
    std::memset(field + length, 0, size - length);
}
