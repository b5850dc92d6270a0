// Frame encode and receive-parse throughput, each against memcpy of the same bytes.
// Encode: SYS/WRITE frames with 128 random data bytes into the connection's encode buffer size.
// Parse: the same frames, stuffed, through a connection's receive parser and dispatch (the
// handler runs through the window hook on this thread, as a sent message would).
#include "BenchResult.h"

#include "comm/PacketCodec.h"
#include "comm/TConnection.h"
#include "platform/MessageIds.h"
#include "platform/Messages.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int Frames = 20000;
constexpr int Rounds = 5;
constexpr size_t DataBytes = 128;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A connection that reads from memory: the parser and dispatch without any transport.
class TMemoryConnection : public TConnection {
public:
    using TConnection::TConnection;
    void Feed(const std::vector<uint8_t> &wire) {
        wire_ = &wire;
        position_ = 0;
        while (position_ < wire_->size()) ServiceReceive();
    }
    void SetMode(uint8_t) override {}
    void WriteRaw(const uint8_t *, uint32_t) override {}
    void ReadRaw(uint8_t *, uint32_t) override {}
    bool IsOpen() const override { return true; }
    void Close() override {}
    void SetRetryCount(int32_t) override {}
    int32_t GetRetryCount() const override { return 0; }
    int32_t GetResponseTimeout() const override { return 0; }
    void SetResponseTimeout(int32_t) override {}

protected:
    void Write(const uint8_t *, uint32_t) override {}
    void WaitForData() override {}
    uint32_t ReadAvailable() override {
        const size_t take = std::min<size_t>(ChunkSize, wire_->size() - position_);
        std::memcpy(chunk_, wire_->data() + position_, take);
        position_ += take;
        chunkAvailable_ = static_cast<uint32_t>(take);
        chunkPosition_ = 0;
        return chunkAvailable_;
    }
    bool NextByte(uint8_t &out) override { return NextByteResyncOnFlag(out); }

private:
    const std::vector<uint8_t> *wire_ = nullptr;
    size_t position_ = 0;
};

// The connection hands what it parsed to its window in batches; the bench's window counts their
// payload bytes itself (the connection's own hook needs a reader thread, which this one has not).
size_t parsedBytes = 0;
platform::LRESULT CountBatches(platform::HWND, platform::UINT msg, platform::WPARAM,
                               platform::LPARAM lParam) {
    if (msg == UM_PACKET)
        for (const PacketBatch::Packet &packet : *reinterpret_cast<const PacketBatch *>(lParam))
            parsedBytes += packet.length;
    return 0;
}

std::vector<uint8_t> WritePayload(std::mt19937 &random, uint32_t address) {
    std::vector<uint8_t> payload(7 + DataBytes);
    payload[0] = 0;
    packet::StoreLe16(payload.data() + 1, DataBytes);
    packet::StoreLe32(payload.data() + 3, address);
    for (size_t i = 7; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(random());
    return payload;
}

} // namespace

int main() {
    std::mt19937 random(1);
    std::vector<std::vector<uint8_t>> payloads;
    for (int i = 0; i < Frames; ++i)
        payloads.push_back(WritePayload(random, 0x80000 + 128u * static_cast<uint32_t>(i)));

    // Encode.
    std::vector<uint8_t> out(packet::EncodeBufferSize);
    std::vector<uint8_t> wire;
    uint8_t header[packet::HeaderSize];
    uint8_t sum[packet::TrailerSize];
    double encodeBest = 1e9, copyBest = 1e9;
    size_t encodedBytes = 0;
    for (int round = 0; round < Rounds; ++round) {
        wire.clear();
        auto start = Clock::now();
        for (const auto &payload : payloads) {
            packet::BuildHeader(header, 0, 3, static_cast<uint16_t>(payload.size()));
            packet::StoreLe16(sum, packet::PacketChecksum(header, payload.data(), payload.size()));
            const size_t n = packet::EncodeStuffed(header, payload.data(), payload.size(), sum,
                                                   out.data(), out.size());
            wire.insert(wire.end(), out.begin(), out.begin() + static_cast<long>(n));
        }
        encodeBest = std::min(encodeBest, Seconds(start));
        encodedBytes = wire.size();
        std::vector<uint8_t> copy(wire.size());
        start = Clock::now();
        for (size_t at = 0; at < wire.size();) { // the same bytes, frame-sized memcpy pieces
            const size_t n = std::min<size_t>(out.size(), std::min<size_t>(150, wire.size() - at));
            std::memcpy(out.data(), wire.data() + at, n);
            std::memcpy(copy.data() + at, out.data(), n);
            at += n;
        }
        copyBest = std::min(copyBest, Seconds(start));
    }
    const double mb = static_cast<double>(encodedBytes) / 1e6;
    std::printf("encode: %d frames, %.2f MB on the wire: %.1f MB/s; memcpy %.1f MB/s; ratio "
                "encode/memcpy %.3f\n",
                Frames, mb, mb / encodeBest, mb / copyBest, copyBest / encodeBest);
    bench::PrintResult("codec.encode_per_memcpy", copyBest / encodeBest, "-",
                       "frame encode speed / memcpy of the same bytes");

    // Parse.
    platform::HWND window = platform::CreateWindow(&CountBatches);
    double parseBest = 1e9, parseCopyBest = 1e9;
    {
        TMemoryConnection conn(window);
        conn.RegisterHandler(
            0, 3, [](const uint8_t *, uint16_t, void *) {}, nullptr, false, false);
        for (int round = 0; round < Rounds; ++round) {
            parsedBytes = 0;
            auto start = Clock::now();
            conn.Feed(wire);
            parseBest = std::min(parseBest, Seconds(start));
            if (parsedBytes != payloads.size() * payloads[0].size()) {
                std::printf("parse: wrong payload count %zu\n", parsedBytes);
                return 1;
            }
            std::vector<uint8_t> copy(wire.size());
            start = Clock::now();
            for (size_t at = 0; at < wire.size(); at += TConnection::ChunkSize)
                std::memcpy(copy.data() + at, wire.data() + at,
                            std::min<size_t>(TConnection::ChunkSize, wire.size() - at));
            parseCopyBest = std::min(parseCopyBest, Seconds(start));
        }
    }
    platform::DestroyWindow(window);
    std::printf("parse:  %d frames, %.2f MB: %.1f MB/s (%.0f frames/s); memcpy %.1f MB/s; ratio "
                "parse/memcpy %.4f\n",
                Frames, mb, mb / parseBest, Frames / parseBest, mb / parseCopyBest,
                parseCopyBest / parseBest);
    bench::PrintResult("codec.parse_per_memcpy", parseCopyBest / parseBest, "-",
                       "receive parse and dispatch speed / memcpy of the same bytes");
    return 0;
}
