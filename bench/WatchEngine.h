// An engine that watches the program's blocks go out while the real engine does the work: when
// they start and end, how many packets they were, and how many heap allocations the process made
// meanwhile (bench/AllocationCounter, on every thread).
#pragma once

#include "AllocationCounter.h"

#include "loader/ForwardingEngine.h"

#include <chrono>

class WatchEngine : public ForwardingEngine {
public:
    using Clock = std::chrono::steady_clock;
    using ForwardingEngine::ForwardingEngine;

    void WriteBlock(uint32_t address, uint16_t length, const uint8_t *data) override {
        BlockStarts();
        ForwardingEngine::WriteBlock(address, length, data);
        BlockEnds(1);
    }
    // The network road hands the whole image to the engine in one call, one packet a block.
    void NetworkDownload(const std::string &fileName, const std::string &extension,
                         uint32_t startOffset, int32_t imageBytes, NetworkContinueCallback proceed,
                         uint32_t blockSize, uint32_t flags,
                         NetworkStatusCallback status) override {
        BlockStarts();
        ForwardingEngine::NetworkDownload(fileName, extension, startOffset, imageBytes,
                                          std::move(proceed), blockSize, flags, std::move(status));
        const uint32_t bytes = imageBytes > 0 ? uint32_t(imageBytes) : 0;
        BlockEnds(blockSize ? (bytes + blockSize - 1) / blockSize : 0);
    }

    uint64_t Packets() const { return packets_; }
    double Seconds() const { return std::chrono::duration<double>(last_ - first_).count(); }
    Clock::time_point FirstStart() const { return first_; }
    double AllocationsPerPacket() const {
        return packets_ ? double(allocationsAtEnd_ - allocationsAtStart_) / double(packets_) : 0;
    }

private:
    void BlockStarts() {
        if (started_) return;
        started_ = true;
        allocationsAtStart_ = bench::AllocationCount();
        first_ = Clock::now();
    }
    void BlockEnds(uint64_t packets) {
        last_ = Clock::now();
        allocationsAtEnd_ = bench::AllocationCount();
        packets_ += packets;
    }

    bool started_ = false;
    uint64_t packets_ = 0, allocationsAtStart_ = 0, allocationsAtEnd_ = 0;
    Clock::time_point first_{}, last_{};
};
