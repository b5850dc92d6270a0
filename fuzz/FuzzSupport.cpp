#include "FuzzSupport.h"

#include "comm/DeviceAuthentication.h"
#include "comm/LogText.h"
#include "comm/PacketBatch.h"
#include "comm/PacketCodec.h"
#include "comm/PacketLogDecoder.h"
#include "loader/LoaderErrors.h"
#include "loader/PacketKinds.h"
#include "platform/MessageIds.h"

#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace platform;

namespace fuzz {

void Fail(const char *what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

// ---- scratch file ----

ScratchFile::ScratchFile() : fd_(::memfd_create("tarnwick-fuzz", MFD_CLOEXEC)) {
    if (fd_ < 0) throw std::runtime_error("memfd_create failed");
    path_ = "/proc/self/fd/" + std::to_string(fd_);
}

ScratchFile::~ScratchFile() { ::close(fd_); }

const std::string &ScratchFile::Write(const uint8_t *data, size_t count) {
    if (::ftruncate(fd_, 0) != 0) throw std::runtime_error("ftruncate failed");
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pwrite(fd_, data + done, count - done, static_cast<off_t>(done));
        if (n <= 0) throw std::runtime_error("pwrite failed");
        done += static_cast<size_t>(n);
    }
    return path_;
}

// ---- window ----

namespace {

void TouchPayload(const uint8_t *payload, uint16_t length, void *) {
    Check(length <= packet::PayloadBufferSize, "a packet longer than the receive buffer");
    Check(length == 0 || payload != nullptr, "a packet without its payload");
    volatile uint8_t sum = 0;
    for (uint16_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + payload[i]);
}

LRESULT PacketProc(HWND, UINT msg, WPARAM, LPARAM lParam) {
    if (msg == UM_PACKET) {
        // The callback packets of one received chunk come together, each with its entry.
        const auto *batch = reinterpret_cast<const PacketBatch *>(lParam);
        Check(batch != nullptr && !batch->Empty(), "an empty batch of callback packets");
        for (const PacketBatch::Packet &packet : *batch) {
            Check(packet.entry != nullptr && packet.entry->handler != nullptr,
                  "a callback packet without its entry");
            packet.entry->handler(packet.payload, packet.length, packet.entry->context);
        }
    } else if (msg == UM_PACKET_COPIED) {
        Check(lParam != 0, "a copied packet without its entry");
    }
    return 0;
}

} // namespace

Window::Window() : hwnd_(CreateWindow(&PacketProc)) {}

Window::~Window() { DestroyWindow(hwnd_); }

// ---- handler table ----

namespace {

std::array<uint8_t, 16> FixedKey() {
    return {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
}

// The challenge read as the engine's handler reads it, without the answer it would send.
void AnswerChallenge(const uint8_t *payload, uint16_t length, void *) {
    TouchPayload(payload, length, nullptr);
    (void)DeviceAuthenticationAnswer(payload, length, &FixedKey);
}

void IgnoreMessage(const std::string &, const std::string &) {}

constexpr uint8_t ProbeCode = 56; // a DBG code the engine does not register

void ReceiveProbe(const uint8_t *payload, uint16_t length, void *context) {
    auto *probe = static_cast<FrameProbe *>(context);
    probe->seen = true;
    probe->payload.assign(payload, payload + length);
}

const std::vector<uint8_t> ProbePayload = {'p', 'r', 'o', 'b', 'e', packet::Flag, packet::Escape,
                                           0x02};

} // namespace

void HandlerSetup::Apply(TConnection &connection, uint8_t pattern, uint8_t capacity) {
    const size_t room = capacity == 0xFF ? packet::PayloadBufferSize : capacity;
    buffer_.assign(room, 0);
    if (pattern & 0x10) {
        static const bool quiet = (SetMessageFunction(&IgnoreMessage), true);
        (void)quiet;
        for (const PacketKind &kind : EnginePacketKinds()) {
            connection.RegisterHandler(kind.type, kind.subtype, kind.handler, nullptr, kind.waits,
                                       kind.copy);
            if (kind.copy)
                connection.SetReplyBuffer(kind.type, kind.subtype, true, buffer_.data(), room);
        }
        connection.RegisterHandler(packet::TypeDbg, DbgChallenge, &AnswerChallenge, nullptr, false,
                                   false);
        return;
    }
    for (uint8_t type = packet::TypeSys; type <= packet::TypeDbg; ++type) {
        if ((pattern & (1u << type)) == 0) continue;
        const bool copy = (pattern & (4u << type)) != 0;
        for (uint8_t code = 0; code <= packet::CodeMask; ++code) {
            connection.RegisterHandler(type, code, copy ? nullptr : &TouchPayload, nullptr, true,
                                       copy);
            if (copy) connection.SetReplyBuffer(type, code, true, buffer_.data(), room);
        }
    }
}

std::vector<uint8_t> ArmFrameProbe(TConnection &connection, FrameProbe &probe) {
    connection.RegisterHandler(packet::TypeDbg, ProbeCode, &ReceiveProbe, &probe, false, false);
    return packet::MakeFrame(packet::TypeDbg, ProbeCode, ProbePayload.data(), ProbePayload.size());
}

void CheckFrameProbe(const FrameProbe &probe) {
    Check(probe.seen, "a good frame behind the input did not arrive");
    Check(probe.payload == ProbePayload, "a good frame behind the input arrived changed");
}

// ---- log hook ----

namespace {

std::atomic<bool> logStuffed{true};

void DecodeForLog(const uint8_t *bytes, uint32_t count) {
    size_t written = 0;
    const auto sink = [&](const char *, size_t n) { written += n; };
    LogText text(sink);
    commlog::DecodeFrame(bytes, count, logStuffed, text);
    text.HexDump(bytes, count);
}

} // namespace

void InstallDecodingLogHook(bool stuffed) {
    logStuffed = stuffed;
    TConnection::SetLogHooks(nullptr, nullptr, &DecodeForLog, nullptr, nullptr, nullptr, false,
                             false);
}

// ---- loopback peer ----

namespace {

// Longer than any wait of the connections the targets drive (they wait at most a second), so
// the peer is still there for every one of them.
constexpr int PeerWaitMs = 5000;

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point end) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for events on fd or the abort descriptor; true when fd is ready.
bool WaitFor(int fd, short events, int abortFd, Clock::time_point end) {
    for (;;) {
        pollfd p[2] = {{fd, events, 0}, {abortFd, POLLIN, 0}};
        const int ready = ::poll(p, 2, MsLeft(end));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0 || (p[1].revents & POLLIN)) return false;
        return true;
    }
}

} // namespace

LoopbackPeer::LoopbackPeer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    abort_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (listener_ < 0 || abort_ < 0 ||
        ::bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listener_, 4) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        throw std::runtime_error("no loopback listener");
    port_ = ntohs(address.sin_port);
}

LoopbackPeer::~LoopbackPeer() {
    Finish();
    ::close(listener_);
    ::close(abort_);
}

void LoopbackPeer::Play(const uint8_t *data, size_t count) {
    Finish();
    uint64_t drained = 0;
    [[maybe_unused]] const ssize_t n = ::read(abort_, &drained, sizeof drained);
    script_.assign(data, data + count);
    thread_ = std::thread(&LoopbackPeer::Serve, this);
}

void LoopbackPeer::Finish() {
    if (!thread_.joinable()) return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(abort_, &one, sizeof one);
    thread_.join();
    // A connection the peer never took must not be served the next input.
    for (int fd; (fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) ::close(fd);
}

void LoopbackPeer::Serve() {
    const auto end = Clock::now() + std::chrono::milliseconds(PeerWaitMs);
    if (!WaitFor(listener_, POLLIN, abort_, end)) return;
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    size_t sent = 0;
    while (sent < script_.size() && WaitFor(fd, POLLOUT, abort_, end)) {
        const ssize_t n = ::send(fd, script_.data() + sent, script_.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EINTR) break;
        if (n > 0) sent += static_cast<size_t>(n);
    }
    ::shutdown(fd, SHUT_WR);
    // The other side reads to the end of the script and closes; what it sends is dropped.
    uint8_t sink[4096];
    while (WaitFor(fd, POLLIN, abort_, end)) {
        const ssize_t n = ::recv(fd, sink, sizeof sink, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
    }
    ::close(fd);
}

} // namespace fuzz
