// What the sockets layer does the same on every platform: the address texts, and a Socket's
// ownership of its handle (the system calls are in the posix/ and win32/ backends).
#include "platform/Socket.h"

#include "platform/AsyncSelect.h"

#include <cstring>
#include <utility>

namespace platform {

namespace {

// Network order means the first octet first in memory, whatever the host's byte order.
uint32_t FromOctets(const uint8_t (&octets)[4]) {
    uint32_t value = 0;
    std::memcpy(&value, octets, sizeof value);
    return value;
}

void ToOctets(uint32_t value, uint8_t (&octets)[4]) { std::memcpy(octets, &value, sizeof value); }

} // namespace

std::optional<uint32_t> ParseIpv4(const std::string &text) {
    uint8_t octets[4] = {};
    size_t position = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (position >= text.size() || text[position] != '.') return std::nullopt;
            ++position;
        }
        unsigned value = 0;
        size_t digits = 0;
        while (position < text.size() && text[position] >= '0' && text[position] <= '9' &&
               digits < 4) {
            value = value * 10 + static_cast<unsigned>(text[position] - '0');
            ++position;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) return std::nullopt;
        octets[part] = static_cast<uint8_t>(value);
    }
    if (position != text.size()) return std::nullopt;
    return FromOctets(octets);
}

std::string FormatIpv4(uint32_t networkOrder) {
    uint8_t octets[4];
    ToOctets(networkOrder, octets);
    return std::to_string(octets[0]) + '.' + std::to_string(octets[1]) + '.' +
           std::to_string(octets[2]) + '.' + std::to_string(octets[3]);
}

bool LooksLikeBroadcast(uint32_t networkOrder) {
    uint8_t octets[4];
    ToOctets(networkOrder, octets);
    return octets[3] == 255;
}

// ---- Socket: ownership ----

Socket::Socket() = default;

Socket::Socket(int fd) : fd_(fd) {}

Socket::~Socket() { Close(); }

Socket::Socket(Socket &&other) noexcept
    : fd_(std::exchange(other.fd_, -1)), nonBlocking_(std::exchange(other.nonBlocking_, false)),
      watcher_(std::move(other.watcher_)) {}

Socket &Socket::operator=(Socket &&other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        nonBlocking_ = std::exchange(other.nonBlocking_, false);
        watcher_ = std::move(other.watcher_);
    }
    return *this;
}

} // namespace platform
