#include "LinkSupport.h"

#include <chrono>
#include <sys/socket.h>

namespace linktest {

using namespace std::chrono;

CommOptions OptionsFor(uint16_t port, int32_t timeoutMs, int32_t retries) {
    CommOptions options;
    SetField(options.CorvixLinkAddress, "127.0.0.1");
    options.CorvixLinkTcpPort = port;
    options.EthernetResponseTimeout = timeoutMs;
    options.EthernetRetryCount = retries;
    options.UseTCP = 1;
    options.UseCorvixLink = 1;
    return options;
}

std::vector<uint8_t> DeviceFrame(uint8_t type, uint8_t subtype, std::vector<uint8_t> payload) {
    return sim::EncodeLinkFrame(sim::Frame{type, subtype, std::move(payload)});
}

uint16_t UnusedPort() {
    platform::Socket probe = platform::Socket::Tcp();
    probe.Bind(platform::Ipv4Loopback(), 0);
    return probe.LocalPort();
}

// ---- LinkPeer ----

LinkPeer::LinkPeer(Responder responder, std::vector<uint8_t> greeting)
    : responder_(std::move(responder)), greeting_(std::move(greeting)) {
    listener_ = platform::Socket::Tcp();
    listener_.Bind(platform::Ipv4Loopback(), 0);
    listener_.Listen(1);
    port_ = listener_.LocalPort();
    thread_ = std::thread(&LinkPeer::Run, this);
}

LinkPeer::~LinkPeer() {
    stop_ = true;
    thread_.join();
}

void LinkPeer::Run() {
    // Every wait is a short poll, so the destructor's stop is seen within 20 ms.
    while (!stop_ && listener_.WaitReadable(20) <= 0) {
    }
    if (stop_) return;
    {
        std::lock_guard lock(mutex_);
        host_ = listener_.Accept();
        if (!greeting_.empty()) host_.SendAll(greeting_.data(), greeting_.size());
    }
    connected_ = true;
    uint8_t buffer[16384];
    while (!stop_) {
        std::vector<uint8_t> answer;
        {
            std::lock_guard lock(mutex_);
            if (!host_.Valid()) break;
            if (host_.WaitReadable(0) <= 0)
                answer.clear();
            else {
                const platform::IoResult got = host_.Recv(buffer, sizeof buffer);
                if (got.error != 0 || got.count == 0) break;
                wire_.insert(wire_.end(), buffer, buffer + got.count);
                std::vector<sim::Frame> frames;
                decoder_.Feed(buffer, size_t(got.count), frames);
                for (const auto &frame : frames) {
                    frames_.push_back(frame);
                    if (responder_) {
                        auto bytes = responder_(frame);
                        answer.insert(answer.end(), bytes.begin(), bytes.end());
                    }
                }
                if (!answer.empty()) host_.SendAll(answer.data(), answer.size());
                continue;
            }
        }
        std::this_thread::sleep_for(milliseconds(2));
    }
}

bool LinkPeer::Wait(const std::function<bool()> &done, int timeoutMs) const {
    const auto end = steady_clock::now() + milliseconds(timeoutMs);
    while (!done()) {
        if (steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(milliseconds(2));
    }
    return true;
}

bool LinkPeer::WaitConnected(int timeoutMs) const {
    return Wait([&] { return connected_.load(); }, timeoutMs);
}

bool LinkPeer::WaitFrames(size_t count, int timeoutMs) const {
    return Wait([&] { return Frames().size() >= count; }, timeoutMs);
}

bool LinkPeer::WaitBytes(size_t count, int timeoutMs) const {
    return Wait([&] { return Wire().size() >= count; }, timeoutMs);
}

std::vector<sim::Frame> LinkPeer::Frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
}

std::vector<uint8_t> LinkPeer::Wire() const {
    std::lock_guard lock(mutex_);
    return wire_;
}

void LinkPeer::Send(const std::vector<uint8_t> &bytes) {
    std::lock_guard lock(mutex_);
    if (host_.Valid()) host_.SendAll(bytes.data(), bytes.size());
}

void LinkPeer::CloseConnection(bool reset) {
    std::lock_guard lock(mutex_);
    if (!host_.Valid()) return;
    if (reset) host_.SetLinger(true, 0); // close then sends RST instead of FIN
    host_.Close();
}

// ---- StalledListener ----

StalledListener::StalledListener() {
    listener_ = platform::Socket::Tcp();
    if (listener_.Bind(platform::Ipv4Loopback(), 0) != 0 || listener_.Listen(0) != 0) return;
    port_ = listener_.LocalPort();
    // Connections nobody accepts fill the queue; after that the listener drops new SYNs.
    for (int i = 0; i < 3; ++i) {
        platform::Socket filler = platform::Socket::Tcp();
        filler.SetBlocking(false);
        filler.Connect(platform::Ipv4Loopback(), port_);
        fillers_.push_back(std::move(filler));
    }
    std::this_thread::sleep_for(milliseconds(50));
    ready_ = true;
}

} // namespace linktest
