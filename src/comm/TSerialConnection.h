// TSerialConnection: a board on a serial port. Raw mode pushes bytes one by one (cold load);
// packet mode runs the reader thread on the port (pilot BIOS and later).
#pragma once

#include "comm/TConnection.h"
#include "platform/Serial.h"

#include <memory>

class TSerialConnection : public TConnection {
public:
    explicit TSerialConnection(platform::HWND window);
    ~TSerialConnection() override;

    // Opens the port of "Com Port" if it is not open (2000), applies rate, DTR, RTS and stop bits
    // (2001), then SetMode(mode).
    void Open(uint8_t mode);
    // 1 starts the reader (once); any other mode stops a running reader and keeps the port open.
    void SetMode(uint8_t mode) override;
    // Raw mode only (4098): one write per byte, after waiting for room in the output queue.
    void WriteRaw(const uint8_t *data, uint32_t count) override;
    // Raw mode only (4098): reads exactly count bytes into data, or fails 2002 when the line
    // stays silent (three checks 10 ms apart, or 5000 ms without progress).
    void ReadRaw(uint8_t *data, uint32_t count) override;
    bool IsOpen() const override { return port_ != nullptr; }
    // Stops the reader, closes the port; a later Open starts afresh in the mode it is given.
    void Close() override;
    void SetRetryCount(int32_t count) override { settings_.SerialRetryCount = count; }
    int32_t GetRetryCount() const override { return settings_.SerialRetryCount; }
    int32_t GetResponseTimeout() const override { return settings_.SerialResponseTimeout; }
    void SetResponseTimeout(int32_t ms) override { settings_.SerialResponseTimeout = ms; }
    // "COM3 (/dev/ttyUSB0)", or "COM3 (rfc2217://127.0.0.1:4000)".
    std::string TargetName() const override;

    void PurgeInput();
    // Waits until everything written is on the wire (no message pumping, no time limit).
    void WaitOutputEmpty();
    // Waits for room in the output queue in the one wait: 4124 when cancelled meanwhile.
    void WaitOutputRoom();
    // Waits ms milliseconds in the one wait, pumping messages: 4124 when cancelled meanwhile,
    // the reader's code when the reader was lost.
    void Delay(uint32_t ms);
    // The MS_* modem status bits; false (status 0) without a port or modem lines.
    bool GetModemStatus(uint32_t &status);

    // The connection's millisecond clock, from the high-resolution counter.
    uint32_t NowMs();
    uint32_t DeadlineMs(uint32_t ms);

    static constexpr long OutputQueueSize = 65584;

protected:
    // The detail of a failed open: the port, the system's reason and what to check.
    std::string OpenFailureDetail(const platform::SerialError &error) const;
    // The port for "Com Port"; a seam for tools that reach a board some other way.
    virtual std::unique_ptr<platform::SerialPort> OpenPort(int32_t comPort,
                                                           platform::SerialError *error);

    void Write(const uint8_t *data, uint32_t count) override;
    void WaitForData() override;
    uint32_t ReadAvailable() override;
    bool NextByte(uint8_t &out) override { return NextByteResyncOnFlag(out); }
    void WakeReader() override;

private:
    long QueuedInput();
    uint32_t GatherInto(uint32_t target, bool raw);
    void ReadRawPiece(uint8_t *data, uint32_t count);
    // Waits until what was written is on the wire, pumping messages while that takes longer
    // than a short slice.
    void DrainPumping();
    // How long bytes take on the line at the port's rate, in whole milliseconds.
    int64_t WireMs(int64_t bytes) const;

    std::unique_ptr<platform::SerialPort> port_;
    platform::SerialSettings portSettings_;
    uint32_t requestedCount_ = 0;
    int64_t lastCounter_ = 0;
    int64_t counterFrequency_ = 0;
    long double frequencyReal_ = 0;
};
