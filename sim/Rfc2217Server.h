// corvix-sim's RFC 2217 front end: a Telnet Com Port Control server on 127.0.0.1 that puts one
// host at a time in front of a Peer. It answers each COM-PORT command with the command code plus
// 100 and the value it applied, keeps every line change with its steady-clock time stamp for
// tests, and reports the modem lines the peer (or a test) drives by NOTIFY-MODEMSTATE, within
// the mask the host set.
#pragma once

#include "HostChannel.h"
#include "Peer.h"

#include "platform/Telnet.h"
#include "platform/Socket.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

struct Rfc2217ServerOptions {
    uint16_t port = 0;                 // 0: an ephemeral port, see Port()
    bool pace = false;                 // deliver bytes at the line rate
    bool answerComPortCommands = true; // false: apply commands silently and report no modem state,
                                       // like ser2net serving a pseudo-terminal
};

class Rfc2217Server final : private platform::telnet::TelnetSink {
public:
    Rfc2217Server(Peer &peer, Rfc2217ServerOptions options = {});
    ~Rfc2217Server() override;
    Rfc2217Server(const Rfc2217Server &) = delete;
    Rfc2217Server &operator=(const Rfc2217Server &) = delete;

    // Binds and starts serving. False with a reason when the port cannot be had.
    bool Start(std::string *error = nullptr);
    void Stop();

    uint16_t Port() const { return port_; }
    std::string Url() const; // "rfc2217://127.0.0.1:<port>"

    // Thread-safe views and controls for tests and the board.
    HostLink &Link() { return channel_; }
    void SetDsr(bool on);
    LineState CurrentLine() const;
    std::vector<LineEvent> LineEvents() const;
    void ClearLineEvents();
    // Waits (bounded) until at least count line events are recorded; returns them.
    std::vector<LineEvent> WaitForLineEvents(size_t count, std::chrono::milliseconds timeout) const;
    bool WaitForClient(std::chrono::milliseconds timeout) const;
    bool ClientConnected() const;
    size_t ConnectionsAccepted() const;

private:
    void Loop();
    void Accept();
    void CloseConnection();
    void ReadConnection();
    void Flush();
    void SendModemState(uint8_t lines, uint8_t changed);
    void ReportModemLines(); // the current lines, without change flags
    void OnData(const uint8_t *data, size_t count) override;
    void OnNegotiation(uint8_t verb, uint8_t option) override;
    void OnSubnegotiation(uint8_t option, const uint8_t *value, size_t count) override;
    void HandleControl(uint8_t value, SimClock::time_point now);
    void Record(LineEventKind kind, uint32_t value, SimClock::time_point now);
    void Answer(uint8_t command, const uint8_t *value, size_t count);
    void Answer(uint8_t command, uint8_t value) { Answer(command, &value, 1); }

    const Rfc2217ServerOptions options_;
    HostChannel channel_;
    platform::Socket listener_;
    platform::Socket connection_;
    uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false};

    // I/O thread only.
    platform::telnet::TelnetDecoder decoder_;
    platform::telnet::TelnetOptions telnetOptions_;
    std::vector<uint8_t> out_;
    uint8_t modemMask_ = 0;
    uint8_t reportedLines_ = 0;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    LineState line_;
    std::vector<LineEvent> events_;
    bool connected_ = false;
    size_t accepted_ = 0;
};

} // namespace sim
