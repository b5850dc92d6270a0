#include "SerialTestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

namespace serialtest {

PtyPair::PtyPair() {
    master_.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    char name[128];
    if (!master_.Valid() || ::grantpt(master_.Get()) != 0 || ::unlockpt(master_.Get()) != 0 ||
        ::ptsname_r(master_.Get(), name, sizeof name) != 0) {
        ADD_FAILURE() << "no pseudo-terminal: " << std::strerror(errno);
        return;
    }
    slavePath_ = name;
}

void PtyPair::WriteMaster(const std::vector<uint8_t> &bytes) const {
    size_t done = 0;
    for (int attempts = 0; done < bytes.size() && attempts < 1000; ++attempts) {
        ssize_t n = ::write(master_.Get(), bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        pollfd pfd{master_.Get(), POLLOUT, 0};
        ::poll(&pfd, 1, 10);
    }
    ASSERT_EQ(done, bytes.size()) << "the pseudo-terminal took only part of the bytes";
}

std::vector<uint8_t> PtyPair::ReadMaster(size_t count, std::chrono::milliseconds timeout) const {
    std::vector<uint8_t> got;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd pfd{master_.Get(), POLLIN, 0};
        if (::poll(&pfd, 1, 20) <= 0) continue;
        uint8_t chunk[4096];
        ssize_t n = ::read(master_.Get(), chunk, std::min(sizeof chunk, count - got.size()));
        if (n > 0) got.insert(got.end(), chunk, chunk + n);
    }
    return got;
}

std::vector<uint8_t> ReadFromPort(platform::SerialPort &port, size_t count,
                                  std::chrono::milliseconds timeout) {
    std::vector<uint8_t> got;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
        if (port.WaitReadable(20) < 0) break;
        uint8_t chunk[4096];
        long n = port.ReadNow(chunk, std::min(sizeof chunk, count - got.size()));
        if (n < 0) break;
        got.insert(got.end(), chunk, chunk + n);
    }
    return got;
}

uint16_t FreeLoopbackPort() {
    platform::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd.Get(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::getsockname(fd.Get(), reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

std::vector<uint8_t> AllByteValues() {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 256; ++i) bytes.push_back(uint8_t(i));
    bytes.push_back(0xFF);
    bytes.push_back(0xFF);
    return bytes;
}

void RecordingPeer::OnHostBytes(const uint8_t *data, size_t count) {
    {
        std::lock_guard lock(mutex_);
        for (size_t i = 0; i < count; ++i) items_.push_back({false, data[i], {}});
    }
    changed_.notify_all();
}

void RecordingPeer::OnLineEvent(const sim::LineEvent &event, const sim::LineState &) {
    {
        std::lock_guard lock(mutex_);
        items_.push_back({true, 0, event});
    }
    changed_.notify_all();
}

std::vector<uint8_t> RecordingPeer::Bytes() const {
    std::lock_guard lock(mutex_);
    std::vector<uint8_t> bytes;
    for (const Item &item : items_)
        if (!item.isEvent) bytes.push_back(item.byte);
    return bytes;
}

std::vector<RecordingPeer::Item> RecordingPeer::Items() const {
    std::lock_guard lock(mutex_);
    return items_;
}

bool RecordingPeer::WaitForBytes(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        size_t bytes = 0;
        for (const Item &item : items_) bytes += item.isEvent ? 0 : 1;
        return bytes >= count;
    });
}

} // namespace serialtest
