// Text formatted into the caller's own fixed buffer, for what is written once per packet (the
// byte and packet counters of a load): a string built each time would be an allocation each time.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string_view>

namespace platform {

// printf-style into buffer; the text, cut to fit, or empty when the format fails.
template <size_t N, class... Args>
std::string_view FormatInto(char (&buffer)[N], const char *format, Args... args) {
    static_assert(N > 1, "room for at least one character");
    const int length = std::snprintf(buffer, N, format, args...);
    if (length <= 0) return {};
    return {buffer, std::min(static_cast<size_t>(length), N - 1)};
}

} // namespace platform
