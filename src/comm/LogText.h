// The communication log's text, gathered in a fixed buffer and handed to a sink in pieces: a
// hook formats its lines without allocating, whatever the size of the frame it dumps.
#pragma once

#include "platform/Wait.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

class LogText {
public:
    using Sink = platform::CallableRef<void(const char *, size_t)>;

    explicit LogText(Sink sink) : sink_(sink) {}
    LogText(const LogText &) = delete;
    LogText &operator=(const LogText &) = delete;
    ~LogText() { Flush(); }

    void Put(std::string_view text);
    void Put(char c);
    // printf-style; a single piece longer than the buffer is cut at the buffer's size.
    void Format(const char *format, ...) __attribute__((format(printf, 2, 3)));
    // Every byte as two lower-case hexadecimal digits and a space, sixteen to a line, each line
    // (the last one too) closed by "\r\n".
    void HexDump(const uint8_t *bytes, uint32_t count);
    void Flush();

private:
    static constexpr size_t Capacity = 4096;
    size_t Room() const { return Capacity - used_; }

    Sink sink_;
    size_t used_ = 0;
    char buffer_[Capacity];
};
