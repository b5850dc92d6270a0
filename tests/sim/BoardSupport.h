// Helpers for the simulated board's tests: the sample support files, the bytes the loader puts
// on the line for them, and a host link that keeps what the board sends.
#pragma once

#include "BoardPeer.h"
#include "FrameCodec.h"

#include "platform/Serial.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace boardtest {

using Bytes = std::vector<uint8_t>;

Bytes ReadSample(const std::string &name);

// What the loader sends for a cold loader file: start triplet, the file's triplets up to the end
// triplet, the about-to-end triplet, then the end triplet. Split so a test can look between them.
struct ColdLoadWire {
    Bytes start;      // 80 0E 20
    Bytes data;       // the data triplets
    Bytes aboutToEnd; // 80 0E 30
    Bytes end;        // 80 24 80
};
ColdLoadWire ColdLoadBytes(const Bytes &coldLoader);

// The pilot BIOS upload for a file: the 7-byte header, then the marker and the payload.
struct PilotWire {
    Bytes header;
    Bytes markerAndPayload;
};
PilotWire PilotBytes(const Bytes &pilotFile, uint32_t address = 0x4000);

Bytes Le32(uint32_t value);
Bytes WritePayload(uint32_t address, const Bytes &data, uint8_t mode = 0);

class FakeHostLink final : public sim::HostLink {
public:
    void SendToHost(const uint8_t *data, size_t count) override {
        sent.insert(sent.end(), data, data + count);
    }
    void SetModemLines(uint8_t lines) override { modem = lines; }
    uint8_t ModemLines() const override { return modem; }
    void Disconnect() override { ++disconnects; }

    // Takes what was sent since the last call.
    Bytes Take();
    bool Dsr() const { return (modem & sim::ModemDsr) != 0; }

    Bytes sent;
    uint8_t modem = 0;
    int disconnects = 0;
};

// A board driven directly, the way a front end would drive it, with the line state it reports.
class DirectBoard {
public:
    explicit DirectBoard(sim::BoardOptions options = {});

    void Feed(const Bytes &bytes);
    void SetRate(uint32_t rate);
    void SetDtr(bool on);
    void PulseDtr() {
        SetDtr(true);
        SetDtr(false);
    }
    // DTR pulse (when the board has modem lines), the sample cold loader and the sample pilot BIOS
    // at 57600, leaving the board's pilot BIOS running and the link's output taken.
    void BootToPilot();
    // Sends one request and returns the frames the board answered with (and counts bad ones).
    std::vector<sim::Frame> Request(uint8_t type, uint8_t code, const Bytes &payload = {});
    size_t BadReplies() const { return decoder_.BadFrames(); }

    sim::BoardPeer board;
    FakeHostLink link;

private:
    sim::LineState line_;
    sim::FrameDecoder decoder_;
};

// The product's serial port, as the loader uses it.
std::unique_ptr<platform::SerialPort> OpenPort(const std::string &device);
bool Configure(platform::SerialPort &port, uint32_t rate, bool dtr);
bool Write(platform::SerialPort &port, const Bytes &bytes);
// Reads until count bytes came or the time is up.
Bytes ReadBytes(platform::SerialPort &port, size_t count, std::chrono::milliseconds timeout);
// Reads until count frames came or the time is up.
std::vector<sim::Frame> ReadFrames(platform::SerialPort &port, size_t count,
                                   std::chrono::milliseconds timeout);
// Sends a SYS request and waits for one frame back.
std::vector<sim::Frame> Ask(platform::SerialPort &port, uint8_t code, const Bytes &payload,
                            std::chrono::milliseconds timeout = std::chrono::seconds(3));

} // namespace boardtest
