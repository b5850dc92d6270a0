#include "BoardSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace boardtest {

Bytes ReadSample(const std::string &name) {
    const auto path = std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() /
                      "samples" / name;
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path.string());
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ColdLoadWire ColdLoadBytes(const Bytes &coldLoader) {
    ColdLoadWire wire{{0x80, 0x0E, 0x20}, {}, {0x80, 0x0E, 0x30}, {0x80, 0x24, 0x80}};
    for (size_t i = 0; i + 3 <= coldLoader.size(); i += 3) {
        const Bytes triplet(coldLoader.begin() + long(i), coldLoader.begin() + long(i + 3));
        if (triplet == wire.end) return wire;
        wire.data.insert(wire.data.end(), triplet.begin(), triplet.end());
    }
    throw std::runtime_error("cold loader without an end triplet");
}

PilotWire PilotBytes(const Bytes &pilotFile, uint32_t address) {
    PilotWire wire;
    size_t marker = 0;
    while (marker < pilotFile.size() && pilotFile[marker] != 0xCC) ++marker;
    if (marker == pilotFile.size()) throw std::runtime_error("pilot BIOS without a marker");
    const size_t length = pilotFile.size() - marker;
    wire.header = Le32(address);
    wire.header.push_back(uint8_t(length));
    wire.header.push_back(uint8_t(length >> 8));
    unsigned sum = 0;
    for (uint8_t byte : wire.header) sum += byte;
    wire.header.push_back(uint8_t(sum));
    wire.markerAndPayload.assign(pilotFile.begin() + long(marker), pilotFile.end());
    return wire;
}

Bytes Le32(uint32_t value) {
    return {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
}

Bytes WritePayload(uint32_t address, const Bytes &data, uint8_t mode) {
    Bytes payload{mode, uint8_t(data.size()), uint8_t(data.size() >> 8)};
    const Bytes where = Le32(address);
    payload.insert(payload.end(), where.begin(), where.end());
    payload.insert(payload.end(), data.begin(), data.end());
    return payload;
}

Bytes FakeHostLink::Take() {
    Bytes taken;
    taken.swap(sent);
    return taken;
}

DirectBoard::DirectBoard(sim::BoardOptions options) : board(std::move(options)) {
    board.OnAttach(link);
    board.OnHostConnection(true);
}

void DirectBoard::Feed(const Bytes &bytes) { board.OnHostBytes(bytes.data(), bytes.size()); }

void DirectBoard::SetRate(uint32_t rate) {
    const sim::LineEvent event{sim::LineEventKind::BaudRate, rate, sim::SimClock::now()};
    line_.Apply(event);
    board.OnLineEvent(event, line_);
}

void DirectBoard::SetDtr(bool on) {
    const sim::LineEvent event{sim::LineEventKind::Dtr, on ? 1u : 0u, sim::SimClock::now()};
    line_.Apply(event);
    board.OnLineEvent(event, line_);
}

void DirectBoard::BootToPilot() {
    SetRate(2400);
    PulseDtr();
    const ColdLoadWire cold = ColdLoadBytes(ReadSample("coldload.bin"));
    for (const Bytes *part : {&cold.start, &cold.data, &cold.aboutToEnd, &cold.end}) Feed(*part);
    SetRate(57600);
    const PilotWire pilot = PilotBytes(ReadSample("pilot.bin"));
    Feed(pilot.header);
    Feed(pilot.markerAndPayload);
    link.Take();
}

std::vector<sim::Frame> DirectBoard::Request(uint8_t type, uint8_t code, const Bytes &payload) {
    Feed(sim::EncodeFrame({type, code, payload}));
    std::vector<sim::Frame> frames;
    const Bytes answer = link.Take();
    decoder_.Feed(answer.data(), answer.size(), frames);
    return frames;
}

std::unique_ptr<platform::SerialPort> OpenPort(const std::string &device) {
    platform::SerialError error;
    auto port = platform::OpenSerialDevice(device, &error);
    if (!port) ADD_FAILURE() << device << ": " << error.description;
    return port;
}

bool Configure(platform::SerialPort &port, uint32_t rate, bool dtr) {
    return port.Configure({rate, 0,
                           dtr ? platform::DTR_CONTROL_ENABLE : platform::DTR_CONTROL_DISABLE,
                           platform::RTS_CONTROL_ENABLE});
}

bool Write(platform::SerialPort &port, const Bytes &bytes) {
    return port.Write(bytes.data(), bytes.size());
}

namespace {

// Reads whatever comes, at most limit bytes a time, until done() or the time is up.
template <typename Done, typename Take>
void ReadUntil(platform::SerialPort &port, std::chrono::milliseconds timeout, size_t limit,
               Done done, Take take) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        if (port.WaitReadable(10) < 0) return;
        uint8_t chunk[512];
        const long n = port.ReadNow(chunk, std::min(sizeof chunk, limit));
        if (n < 0) return;
        take(chunk, size_t(n));
    }
}

} // namespace

Bytes ReadBytes(platform::SerialPort &port, size_t count, std::chrono::milliseconds timeout) {
    Bytes got;
    // Never more than asked for: what follows belongs to the next reader.
    ReadUntil(
        port, timeout, count, [&] { return got.size() >= count; },
        [&](const uint8_t *data, size_t n) {
            got.insert(got.end(), data, data + std::min(n, count - got.size()));
        });
    return got;
}

std::vector<sim::Frame> ReadFrames(platform::SerialPort &port, size_t count,
                                   std::chrono::milliseconds timeout) {
    sim::FrameDecoder decoder;
    std::vector<sim::Frame> frames;
    ReadUntil(
        port, timeout, SIZE_MAX, [&] { return frames.size() >= count; },
        [&](const uint8_t *data, size_t n) { decoder.Feed(data, n, frames); });
    return frames;
}

std::vector<sim::Frame> Ask(platform::SerialPort &port, uint8_t code, const Bytes &payload,
                            std::chrono::milliseconds timeout) {
    if (!Write(port, sim::EncodeFrame({0, code, payload}))) return {};
    return ReadFrames(port, 1, timeout);
}

} // namespace boardtest
