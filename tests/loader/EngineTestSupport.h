// Shared pieces of the loader engine tests: a board on the far side of a pseudo-terminal that
// the engine opens as COM1 through a temporary registry, scripted board behaviours, a window
// that runs an action when a stage's wait pumps it, and the capture of the engine's message
// boxes.
#pragma once

#include "loader/LoaderEngine.h"
#include "loader/LoaderErrors.h"
#include "platform/Messages.h"
#include "support/ActionWindow.h"
#include "comm/CommOptions.h"
#include <gtest/gtest.h>

#include "FrameCodec.h" // the simulated board's frame codec (corvix_sim)

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace enginetest {

// A pseudo-terminal: the board holds the master, the engine opens the slave.
class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;
    int Master() const { return master_; }
    const std::string &SlavePath() const { return slave_; }
    // The slave's line speed as last configured (read through the master), or 0.
    uint32_t SlaveBaud() const;
    // Changes the slave's line speed behind the engine's back.
    void SetSlaveBaud(uint32_t baud) const;

private:
    int master_ = -1;
    std::string slave_;
};

// A registry file of its own with COM1 mapped to a device; removed again at the end.
class TempRegistry {
public:
    explicit TempRegistry(const std::string &com1Device);
    ~TempRegistry();
    TempRegistry(const TempRegistry &) = delete;
    TempRegistry &operator=(const TempRegistry &) = delete;

private:
    std::string path_;
};

// What a board says back: gets the bytes that just arrived, returns the bytes to answer.
using Responder = std::function<std::vector<uint8_t>(const uint8_t *data, size_t count)>;

// Plays the board on the master side of a pty on its own thread: records every byte the engine
// sent and answers through the responder.
class BoardPeer {
public:
    BoardPeer(int masterFd, Responder responder);
    ~BoardPeer();
    BoardPeer(const BoardPeer &) = delete;
    BoardPeer &operator=(const BoardPeer &) = delete;

    std::vector<uint8_t> Received() const;
    // Waits (at most timeoutMs) until at least count bytes have arrived.
    bool WaitReceived(size_t count, int timeoutMs) const;

private:
    void Run();

    int fd_;
    Responder responder_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<uint8_t> received_;
    std::thread thread_;
};

// A board that takes no notice of anything.
Responder SilentBoard();

// The cold loader's side of a pilot BIOS upload: echoes the header checksum (or a wrong byte, or
// nothing), then, once marker and payload are in, answers the upload checksum (or a wrong one).
enum class Echo { Right, Wrong, None };
enum class UploadAnswer { Right, Wrong };
Responder PilotBoard(Echo echo, UploadAnswer answer);

// A pilot BIOS that speaks packets: every decoded request goes to answer, whose frame (if any)
// is sent back. Requests are also kept for the test to look at.
class PacketBoard {
public:
    using Answer = std::function<std::optional<sim::Frame>(const sim::Frame &request)>;
    explicit PacketBoard(Answer answer);
    Responder AsResponder();
    std::vector<sim::Frame> Requests() const;
    // Waits (at most timeoutMs) until count requests have arrived.
    bool WaitRequests(size_t count, int timeoutMs) const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

// Answers every request with an ACK (code | 0x80) carrying payload.
PacketBoard::Answer AckAll(std::vector<uint8_t> payload = {});
// Answers every request with a NAK (code | 0x40).
PacketBoard::Answer NakAll();

// Shows go to a list instead of the user while it lives.
class MessageCapture {
public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture &) = delete;
    MessageCapture &operator=(const MessageCapture &) = delete;
    std::vector<std::string> Texts() const;

private:
    struct State;
    std::shared_ptr<State> state_;
    MessageFunction previous_;
};

// Options for COM1 with short waits, so that silent-board tests end quickly.
CommOptions SerialOptions(int32_t baudRate);

// Writes bytes to a new file in the test's temporary directory and returns its path.
std::string WriteTempFile(const std::string &name, const std::vector<uint8_t> &bytes);

// Runs fn and returns the LoaderError of the TargetCommException it raised, or 0 if none.
int32_t LoaderErrorOf(const std::function<void()> &fn);

// A fresh engine on a window of the test thread, with COM1 on a pty whose master a board plays.
class EngineTest : public ::testing::Test {
protected:
    EngineTest() : registry(pty.SlavePath()), engine(std::make_unique<LoaderEngine>()) {}

    // The board answers through responder from now on.
    void StartBoard(Responder responder) {
        board = std::make_unique<BoardPeer>(pty.Master(), std::move(responder));
    }
    void ConnectAt(int32_t baudRate, uint8_t packetMode, CommOptions options) {
        options.BaudRate = baudRate;
        engine->Connect(window.Handle(), options, packetMode, {});
        if (packetMode == 1) engine->RegisterPacketKinds();
    }
    void ConnectAt(int32_t baudRate, uint8_t packetMode) {
        ConnectAt(baudRate, packetMode, SerialOptions(baudRate));
    }

    Pty pty;
    TempRegistry registry;
    ActionWindow window;
    MessageCapture messages;
    std::unique_ptr<BoardPeer> board;
    std::unique_ptr<LoaderEngine> engine;
};

} // namespace enginetest
