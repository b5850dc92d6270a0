#include "comm/LogText.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

void LogText::Put(std::string_view text) {
    while (!text.empty()) {
        if (Room() == 0) Flush();
        const size_t piece = text.size() < Room() ? text.size() : Room();
        std::memcpy(buffer_ + used_, text.data(), piece);
        used_ += piece;
        text.remove_prefix(piece);
    }
}

void LogText::Put(char c) {
    if (Room() == 0) Flush();
    buffer_[used_++] = c;
}

void LogText::Format(const char *format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(buffer_ + used_, Room(), format, args);
    if (length >= 0 && static_cast<size_t>(length) >= Room()) {
        Flush();
        length = std::vsnprintf(buffer_, Capacity, format, again);
    }
    va_end(again);
    va_end(args);
    if (length < 0) return;
    // vsnprintf stops one short of the room for its terminating zero, which is not log text.
    used_ += static_cast<size_t>(length) < Room() ? static_cast<size_t>(length) : Room() - 1;
}

void LogText::HexDump(const uint8_t *bytes, uint32_t count) {
    static constexpr char Digits[] = "0123456789abcdef";
    static constexpr size_t LineBytes = 16;
    // One line at most: sixteen "xx " and the line break.
    static constexpr size_t LineRoom = LineBytes * 3 + 2;
    for (uint32_t start = 0; start < count; start += LineBytes) {
        if (Room() < LineRoom) Flush();
        const uint32_t end = count - start < LineBytes ? count : start + LineBytes;
        char *out = buffer_ + used_;
        for (uint32_t i = start; i < end; ++i) {
            *out++ = Digits[bytes[i] >> 4];
            *out++ = Digits[bytes[i] & 0x0F];
            *out++ = ' ';
        }
        *out++ = '\r';
        *out++ = '\n';
        used_ = static_cast<size_t>(out - buffer_);
    }
}

void LogText::Flush() {
    if (used_ == 0) return;
    if (sink_) sink_(buffer_, used_);
    used_ = 0;
}
