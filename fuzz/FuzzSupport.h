// What the fuzz targets share: the check that stops a run on a broken promise, a file in memory
// for the readers that take a path, a window of the fuzzing thread, a connection kind whose
// receive side is fed from memory, and a one-connection TCP peer on 127.0.0.1.
#pragma once

#include "comm/ConnectionErr.h"
#include "comm/TConnection.h"
#include "platform/Messages.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace fuzz {

// Reports a broken promise of the code under test and aborts, so libFuzzer keeps the input.
[[noreturn]] void Fail(const char *what);
inline void Check(bool condition, const char *what) {
    if (!condition) Fail(what);
}

// A file that lives in memory (nothing is left on disk), rewritten with each input and reached
// through a path like any file.
class ScratchFile {
public:
    ScratchFile();
    ~ScratchFile();
    ScratchFile(const ScratchFile &) = delete;
    ScratchFile &operator=(const ScratchFile &) = delete;
    // Replaces the contents; returns the path.
    const std::string &Write(const uint8_t *data, size_t count);

private:
    int fd_ = -1;
    std::string path_;
};

// A window of the calling thread. A packet the parser hands over reaches its procedure, which
// checks that the payload it is given lies inside the connection's receive buffer.
class Window {
public:
    Window();
    ~Window();
    Window(const Window &) = delete;
    Window &operator=(const Window &) = delete;
    platform::HWND Handle() const { return hwnd_; }

private:
    platform::HWND hwnd_;
};

// A connection of kind Kind whose receive side takes its bytes from memory instead of the port
// or socket: the kind's own framing (frame start, unstuffing, resynchronisation) and the shared
// parser run as on the reader thread, but synchronously, on the calling thread. A packet goes to
// the window with a plain call (same thread), and an unregistered one ends the pass with 4099 as
// it would end the reader.
template <class Kind> class FedConnection final : public Kind {
public:
    explicit FedConnection(platform::HWND window) : Kind(window) {}

    // One receive pass over bytes; returns the code the reader would have ended with, or 0.
    int32_t Receive(const uint8_t *data, size_t count) {
        next_ = data;
        left_ = count;
        try {
            this->ServiceReceive();
        } catch (const xConnectionErr &error) {
            return error.Code();
        }
        return 0;
    }

protected:
    void WaitForData() override {}
    uint32_t ReadAvailable() override {
        const size_t n = std::min<size_t>(left_, TConnection::ChunkSize);
        if (n > 0) std::memcpy(this->chunk_, next_, n);
        next_ += n;
        left_ -= n;
        this->chunkAvailable_ = static_cast<uint32_t>(n);
        this->chunkPosition_ = 0;
        return static_cast<uint32_t>(n);
    }

private:
    const uint8_t *next_ = nullptr;
    size_t left_ = 0;
};

// Registers the handler table of a connection from two bytes of the input. Pattern bit 4: the
// loader engine's own packet kinds with their handlers, and the network device's challenge
// answered as the engine answers it. Otherwise bits 0-1 register every SYS or DBG code, bits
// 2-3 make them copy entries instead of callbacks. capacity: the room of a copy entry's buffer
// (0xFF: a whole payload), allocated to exactly that size, so a copy past it is caught.
class HandlerSetup {
public:
    void Apply(TConnection &connection, uint8_t pattern, uint8_t capacity);

private:
    std::vector<uint8_t> buffer_;
};

// The communication log's decoder on every frame a connection hands to the log, with the
// framing the fuzz target says; the text goes nowhere.
void InstallDecodingLogHook(bool stuffed);

// A good frame of a code the engine does not use, and what its handler received of it.
struct FrameProbe {
    bool seen = false;
    std::vector<uint8_t> payload;
};
// Registers the probe's code on connection; returns the probe frame in the serial framing.
std::vector<uint8_t> ArmFrameProbe(TConnection &connection, FrameProbe &probe);
// Fails unless the probe's handler got the probe's payload whole.
void CheckFrameProbe(const FrameProbe &probe);

template <class Kind> void CheckFrameAfter(FedConnection<Kind> &connection) {
    FrameProbe probe;
    const std::vector<uint8_t> frame = ArmFrameProbe(connection, probe);
    Check(connection.Receive(frame.data(), frame.size()) == 0, "the probe frame ended the parser");
    CheckFrameProbe(probe);
}

// The packet targets: a fresh connection of kind Kind per input, its handler table set from the
// first two bytes, the rest received as from the line. The parser may end only as a reader
// would: all taken, or 4099 for a packet nobody registered.
template <class Kind> int RunPacketInput(const uint8_t *data, size_t size, bool stuffed) {
    if (size < 2) return 0;
    static Window window;
    static const bool logHook = (InstallDecodingLogHook(stuffed), true);
    (void)logHook;
    auto connection = std::make_unique<FedConnection<Kind>>(window.Handle());
    HandlerSetup handlers;
    handlers.Apply(*connection, data[0], data[1]);
    const int32_t code = connection->Receive(data + 2, size - 2);
    Check(code == 0 || code == ConnCode::UnregisteredEntry,
          "the parser ended with an unexpected code");
    connection->TakeReceiveError();
    // On the serial framing a flag always starts afresh: whatever came before, a whole frame
    // behind it arrives.
    if (stuffed && code == 0) CheckFrameAfter(*connection);
    return 0;
}

// A TCP peer on 127.0.0.1 that plays one input per connection: it accepts one connection, sends
// the bytes, closes its sending side, and reads and drops what comes until the other side
// closes. Every wait is bounded.
class LoopbackPeer {
public:
    LoopbackPeer();
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer &) = delete;
    LoopbackPeer &operator=(const LoopbackPeer &) = delete;
    uint16_t Port() const { return port_; }
    // Serves the next connection with a copy of the bytes.
    void Play(const uint8_t *data, size_t count);
    // Ends the connection being served (and a wait for one that never came).
    void Finish();

private:
    void Serve();

    int listener_ = -1;
    int abort_ = -1; // an eventfd that ends the peer's waits
    uint16_t port_ = 0;
    std::vector<uint8_t> script_;
    std::thread thread_;
};

} // namespace fuzz
