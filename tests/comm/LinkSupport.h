// Pieces of the network-link tests: a device stand-in on 127.0.0.1 that speaks unstuffed frames,
// a listener that never completes a connect, and the options that point a link at them.
#pragma once

#include "FrameCodec.h"
#include "LinkFrameCodec.h"
#include "platform/Socket.h"
#include "comm/CommOptions.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace linktest {

// Options that reach 127.0.0.1:port with a short reply wait.
CommOptions OptionsFor(uint16_t port, int32_t timeoutMs = 2000, int32_t retries = 0);

// One device stand-in: accepts one host, optionally greets it with a frame, answers each frame
// through the responder, records the bytes and frames it got.
class LinkPeer {
public:
    using Responder = std::function<std::vector<uint8_t>(const sim::Frame &)>;
    explicit LinkPeer(Responder responder = {}, std::vector<uint8_t> greeting = {});
    ~LinkPeer();
    uint16_t Port() const { return port_; }

    bool WaitConnected(int timeoutMs) const;
    bool WaitFrames(size_t count, int timeoutMs) const;
    bool WaitBytes(size_t count, int timeoutMs) const;
    std::vector<sim::Frame> Frames() const;
    std::vector<uint8_t> Wire() const;
    // Sends to the host.
    void Send(const std::vector<uint8_t> &bytes);
    // Closes the host's connection in order (FIN), or with a reset (RST).
    void CloseConnection(bool reset = false);

private:
    void Run();
    bool Wait(const std::function<bool()> &done, int timeoutMs) const;

    Responder responder_;
    std::vector<uint8_t> greeting_;
    platform::Socket listener_;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> connected_{false};
    mutable std::mutex mutex_;
    platform::Socket host_;
    std::vector<uint8_t> wire_;
    std::vector<sim::Frame> frames_;
    sim::LinkFrameDecoder decoder_;
    std::thread thread_;
};

// A listener whose accept queue is full: a connect to it stays unanswered (its SYN is dropped),
// so the real connect wait runs until its timer.
class StalledListener {
public:
    StalledListener();
    uint16_t Port() const { return port_; }
    bool Ready() const { return ready_; }

private:
    platform::Socket listener_;
    std::vector<platform::Socket> fillers_;
    uint16_t port_ = 0;
    bool ready_ = false;
};

// A plain frame from the device.
std::vector<uint8_t> DeviceFrame(uint8_t type, uint8_t subtype, std::vector<uint8_t> payload = {});

// A port on 127.0.0.1 where nothing listens (bound once, then released).
uint16_t UnusedPort();

} // namespace linktest
