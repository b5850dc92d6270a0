#include "DiscoveryResponder.h"

#include "discovery/Discovery.h"

#include <algorithm>

namespace sim {

std::array<uint8_t, 86> BuildDiscoveryReply(const DiscoveryOptions &options) {
    std::array<uint8_t, 86> reply{};
    reply[0] = 0x00; // the device's reply marker, which hosts do not read
    reply[1] = 0x02;
    reply[2] = uint8_t(options.status);
    reply[3] = uint8_t(options.status >> 8);
    const size_t nameLength = std::min<size_t>(options.name.size(), 40);
    std::copy_n(options.name.begin(), nameLength, reply.begin() + 4);
    const std::array<uint8_t, 4> loopback{127, 0, 0, 1};
    std::copy(loopback.begin(), loopback.end(), reply.begin() + 44);
    std::copy(options.mac.begin(), options.mac.end(), reply.begin() + 48);
    reply[54] = uint8_t(options.controlPort);
    reply[55] = uint8_t(options.controlPort >> 8);
    return reply;
}

DiscoveryResponder::DiscoveryResponder(DiscoveryOptions options) : options_(std::move(options)) {}

DiscoveryResponder::~DiscoveryResponder() { Stop(); }

bool DiscoveryResponder::Start(std::string *error) {
    int code = 0;
    socket_ = platform::Socket::Udp(&code);
    if (!socket_.Valid() || !wake_.Valid()) {
        if (error) *error = "socket: error " + std::to_string(code);
        return false;
    }
    // Loopback only: requests from the network never reach the simulator.
    if ((code = socket_.Bind(platform::Ipv4Loopback(), options_.port)) != 0 ||
        (code = socket_.SetBlocking(false)) != 0) {
        if (error)
            *error = "cannot bind 127.0.0.1:" + std::to_string(options_.port) + ": error " +
                     std::to_string(code);
        socket_.Close();
        return false;
    }
    port_ = socket_.LocalPort();
    transcript_.Record(TranscriptEvent("discovery")
                           .Add("port", int64_t(port_))
                           .Add("silent", options_.silent)
                           .Add("controlPort", int64_t(options_.controlPort)));
    stop_ = false;
    thread_ = std::thread(&DiscoveryResponder::Run, this);
    return true;
}

void DiscoveryResponder::Stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    wake_.Signal();
    thread_.join();
    socket_.Close();
}

void DiscoveryResponder::Run() {
    while (!stop_) {
        platform::PollEntry fds[2] = {{socket_.Handle(), platform::PollIn, 0},
                                      {wake_.Get(), platform::PollIn, 0}};
        if (platform::Poll(fds, 2, -1) < 0) return;
        if (stop_) return;
        if (fds[0].revents & platform::PollIn) TakeDatagram();
    }
}

void DiscoveryResponder::TakeDatagram() {
    uint8_t buffer[512];
    const platform::Datagram got = socket_.RecvFrom(buffer, sizeof buffer);
    if (got.error != 0) return; // would-block or a stray error: nothing was taken
    const bool request = IsDiscoveryRequest(buffer, size_t(got.count));
    {
        std::lock_guard lock(mutex_);
        if (request)
            requests_.push_back(SimClock::now());
        else
            ++ignored_;
        transcript_.Record(TranscriptEvent(request ? "request" : "ignored")
                               .Add("from", platform::FormatIpv4(got.address))
                               .Add("length", int64_t(got.count)));
    }
    changed_.notify_all();
    if (!request || options_.silent || port_ == 0xFFFF) return;
    // Replies go to the discovery port + 1 of the requester's address, where its round listens.
    const auto reply = BuildDiscoveryReply(options_);
    socket_.SendTo(reply.data(), reply.size(), got.address, uint16_t(port_ + 1));
}

std::vector<SimClock::time_point> DiscoveryResponder::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

size_t DiscoveryResponder::IgnoredDatagrams() const {
    std::lock_guard lock(mutex_);
    return ignored_;
}

bool DiscoveryResponder::WaitForRequests(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

bool DiscoveryResponder::SaveTranscript(const std::string &path, std::string *error) const {
    std::lock_guard lock(mutex_);
    return transcript_.Save(path, error);
}

} // namespace sim
