// A serial port on a remote serial server, reached over TCP with the Telnet Com Port Control
// Option (RFC 2217): "rfc2217://192.168.1.20:4000" or "rfc2217://localhost:4000".
//
// A reader thread decodes the Telnet stream into a data buffer and keeps the modem state the
// server notifies. Control commands are sent and never waited for: some servers (ser2net on a
// pseudo-terminal) do not acknowledge line controls, and a server that never reports a modem
// state is treated as a port without modem lines. All members may be called from any thread.
#pragma once

#include <chrono>

#include "platform/ByteQueue.h"
#include "platform/Serial.h"
#include "platform/Telnet.h"
#include "platform/Poll.h"
#include "platform/Socket.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace platform {

inline constexpr const char Rfc2217Scheme[] = "rfc2217://";

// Splits "rfc2217://host:port" (host a dotted IPv4 address or "localhost"). False when malformed.
bool ParseRfc2217Url(const std::string &url, uint32_t *ipv4HostOrder, uint16_t *port);

std::unique_ptr<SerialPort> OpenRfc2217Device(const std::string &url, SerialError *error);

class Rfc2217Client final : public SerialPort, private telnet::TelnetSink {
public:
    // Received data beyond this is left in the socket until the caller reads.
    static constexpr size_t MaxBuffered = 1 << 20;

    ~Rfc2217Client() override;

    // Connects (bounded wait) and negotiates. Null on failure, with error filled.
    static std::unique_ptr<Rfc2217Client> Connect(const std::string &url, SerialError *error);
    // Negotiates over a stream already connected to a server (name stands for it in messages)
    // and starts the reader. Null on failure, with error filled. Connect ends here; a harness
    // that plays the server itself comes in here with a connected socket (non-blocking, as
    // Connect's socket is).
    static std::unique_ptr<Rfc2217Client> Attach(const std::string &name, Socket socket,
                                                 SerialError *error);

    bool Configure(const SerialSettings &settings) override;
    bool Write(const uint8_t *data, size_t count) override;
    long ReadNow(uint8_t *data, size_t count) override;
    int WaitReadable(int timeoutMs) override;
    void Wake() override;
    long InputQueueCount() override;
    long OutputQueueCount() override;
    bool PurgeInput() override;
    bool DrainOutput() override;
    bool GetModemStatus(uint32_t *status) override;
    std::string DeviceName() const override { return url_; }

    // The rate the server last reported as applied, if it answered a SET-BAUDRATE.
    std::optional<uint32_t> ReportedBaudRate() const;
    // The server agreed to the Com Port Control Option.
    bool ComPortAccepted() const;

private:
    Rfc2217Client(std::string url, Socket socket);

    void ReaderLoop();
    bool ReadSocket();
    void OnData(const uint8_t *data, size_t count) override;
    void OnNegotiation(uint8_t verb, uint8_t option) override;
    void OnSubnegotiation(uint8_t option, const uint8_t *value, size_t count) override;

    void QueueComPortCommand(uint8_t command, const uint8_t *value, size_t count);
    void QueueComPortCommand(uint8_t command, uint8_t value) {
        QueueComPortCommand(command, &value, 1);
    }
    // Sends what the socket takes now; returns false when the connection failed.
    bool FlushSome();
    // Sends everything queued; false on failure or when Wake() is called meanwhile.
    bool FlushAll();
    void MarkFailed();

    const std::string url_;
    Socket socket_;
    WakeFd stop_;
    std::chrono::nanoseconds ByteTime() const;
    long BytesOnTheWire();

    std::thread reader_;

    // Owned by the reader thread.
    telnet::TelnetDecoder decoder_;
    telnet::TelnetOptions options_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    ByteQueue input_;
    bool failed_ = false;
    bool stopping_ = false;
    bool wakePending_ = false;
    unsigned wakeGeneration_ = 0;
    bool modemKnown_ = false;
    uint8_t modemState_ = 0;
    bool comPortAnswered_ = false;
    bool comPortAccepted_ = false;
    std::optional<uint32_t> reportedBaud_;
    uint32_t configuredBaud_ = 0;

    // Bytes for the socket, in stream order; only ever sent while outMutex_ is held.
    std::mutex outMutex_;
    std::vector<uint8_t> out_;
    // When the remote port will have shifted out every data byte written so far, at the
    // configured rate (outMutex_). The server gives no word of it, so the client keeps the model
    // a local UART would: a write is on the wire only after its bytes' time has passed.
    std::chrono::steady_clock::time_point wireFreeAt_{};
};

} // namespace platform
