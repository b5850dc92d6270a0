// Helpers for the serial-port tests: a pseudo-terminal the test holds the master side of, bounded
// reads from either side, a free loopback port, and a peer that records what the host sent.
#pragma once

#include "Peer.h"
#include "platform/Serial.h"
#include "platform/posix/SerialFd.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace serialtest {

using namespace std::chrono_literals;

class PtyPair {
public:
    PtyPair(); // fails the current test (ADD_FAILURE) when no pseudo-terminal can be had
    int Master() const { return master_.Get(); }
    const std::string &SlavePath() const { return slavePath_; }
    void WriteMaster(const std::vector<uint8_t> &bytes) const;
    // Reads until count bytes arrived or the time is up.
    std::vector<uint8_t> ReadMaster(size_t count, std::chrono::milliseconds timeout) const;
    void CloseMaster() { master_.Reset(); }

private:
    platform::UniqueFd master_;
    std::string slavePath_;
};

// Reads from a port until count bytes arrived, the port failed, or the time is up.
std::vector<uint8_t> ReadFromPort(platform::SerialPort &port, size_t count,
                                  std::chrono::milliseconds timeout);
// Polls a condition until it holds or the time is up.
template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds timeout = 3000ms);

// A loopback TCP port that was free a moment ago.
uint16_t FreeLoopbackPort();

std::vector<uint8_t> AllByteValues(); // 0..255, then 0xFF 0xFF again

// Records what the host sent and the line changes, in arrival order.
class RecordingPeer final : public sim::Peer {
public:
    struct Item {
        bool isEvent;
        uint8_t byte;
        sim::LineEvent event;
    };
    void OnAttach(sim::HostLink &link) override { link_ = &link; }
    void OnHostBytes(const uint8_t *data, size_t count) override;
    void OnLineEvent(const sim::LineEvent &event, const sim::LineState &) override;
    sim::HostLink &Link() { return *link_; }
    std::vector<uint8_t> Bytes() const;
    std::vector<Item> Items() const;
    bool WaitForBytes(size_t count, std::chrono::milliseconds timeout = 3000ms) const;

private:
    sim::HostLink *link_ = nullptr;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Item> items_;
};

template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

} // namespace serialtest
