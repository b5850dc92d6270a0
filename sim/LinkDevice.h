// The simulated CorvixLink network programming device: a TCP server on 127.0.0.1 with a board
// behind it. One host at a time:
//
//   accept --> DBG 63 challenge (byte 0 = 1 and 16 random bytes with a passphrase, 0 without)
//   DBG 62 answer: MD5(challenge || MD5(passphrase)), or 16 zero bytes without a passphrase;
//     a wrong answer closes the connection. Nothing else is served before a right answer.
//   DBG 56 exchange: ACK with one byte.
//   DBG 61 cold loader: LE16 length + file, no reply (the host does not wait for one).
//   DBG 54 pilot header: rate LE32, length LE16, the 7 header bytes, one pad byte: ACK.
//   DBG 60 pilot data: rate LE32, length LE16, then length bytes from the 0xCC marker: ACK
//     when the record is whole and matches the header, NAK otherwise.
//   SYS requests: answered by the board's pilot BIOS (INFOPROBE, FLASHDATA, ERASEFLASH, WRITE,
//     ...), each reply sent as soon as its request is taken, so a run of writes sent without
//     waiting comes back as a run of acknowledgements.
//   DBG 55 with the byte 4: end of the download, ACK.
//   With a text message asked for in the board's options, the board's SYS 63 follows the n-th
//   write acknowledgement that reaches the host.
//
// Faults: silent (accepts, then says and answers nothing), stop-acks:N (writes after the n-th are
// stored but not acknowledged), nak-write:N (the n-th write is refused), close:N (the connection
// is dropped at the n-th write).
//
// Thread safety: the device serves on its own thread; every accessor may be called from any
// thread while it serves.
#pragma once

#include "BoardOptions.h"
#include "BoardPilotBios.h"
#include "BoardTextMessage.h"
#include "FlashImage.h"
#include "FrameCodec.h"
#include "LinkFrameCodec.h"
#include "Transcript.h"

#include "platform/Socket.h"
#include "platform/Poll.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace sim {

enum class LinkFaultKind { None, Silent, StopAcks, NakWrite, Close, StopReading };

struct LinkFault {
    LinkFaultKind kind = LinkFaultKind::None;
    unsigned n = 0; // 1-based, counted over SYS/WRITE requests; unused for silent

    bool operator==(const LinkFault &) const = default;
};

// "silent", "stop-acks:N", "nak-write:N", "close:N", "stop-reading:N" (N from 1); empty for
// anything else.
std::optional<LinkFault> ParseLinkFault(std::string_view text);
const char *LinkFaultName(LinkFaultKind kind);

struct LinkOptions {
    uint16_t port = 0;                     // 0: an ephemeral port
    std::optional<std::string> passphrase; // none: the challenge asks for 16 zero bytes
    LinkFault fault;
    BoardOptions board; // identity, rates and text message of the board behind the device
};

namespace dbg {
constexpr uint8_t PilotHeader = 54, EndDownload = 55, Exchange = 56, PilotData = 60,
                  ColdLoader = 61, ChallengeAnswer = 62, Challenge = 63;
constexpr size_t PilotHeaderPayload = 14;
constexpr size_t PilotDataHead = 6;
} // namespace dbg

class LinkDevice {
public:
    explicit LinkDevice(LinkOptions options = {});
    ~LinkDevice();
    LinkDevice(const LinkDevice &) = delete;
    LinkDevice &operator=(const LinkDevice &) = delete;

    // Listens on 127.0.0.1 and starts serving. False with a reason on failure.
    bool Start(std::string *error = nullptr);
    // Drops any host and stops serving.
    void Stop();
    uint16_t Port() const { return port_; }

    // What the hosts did so far.
    bool Authenticated() const; // the current or last host answered the challenge rightly
    size_t Connections() const;
    std::vector<uint8_t> ColdLoader() const;
    size_t WritesTaken() const;
    std::vector<uint8_t> ReadFlash(uint32_t address, size_t count) const;
    std::vector<TranscriptEvent> Events() const;
    size_t CountEvents(const std::string &name) const;
    bool WaitForEvents(const std::string &name, size_t count,
                       std::chrono::milliseconds timeout) const;

    bool SaveTranscript(const std::string &path, std::string *error = nullptr) const;
    // The flash window 0x80000-0xFFFFF, like the board's.
    bool SaveFlashWindow(const std::string &path, std::string *error = nullptr) const;

private:
    // One host's session.
    struct Session {
        std::array<uint8_t, 16> challenge{};
        bool passphraseAsked = false;
        bool authenticated = false;
        bool close = false;
        bool stopReading = false; // the host's bytes pile up in the kernel until the session ends
        std::vector<uint8_t> out; // replies to send once the received bytes are taken
        LinkFrameDecoder decoder;
    };

    void Run();
    void Serve(platform::Socket &host);
    bool Pump(platform::Socket &host, Session &session);
    std::vector<uint8_t> OpenSession(Session &session);
    void Take(const Frame &frame, Session &session);
    void TakeAnswer(const Frame &frame, Session &session);
    void TakeDbg(const Frame &frame, Session &session);
    void TakePilotHeader(const Frame &frame, Session &session);
    void TakePilotData(const Frame &frame, Session &session);
    void TakeSys(const Frame &frame, Session &session);
    void Reply(Session &session, uint8_t type, uint8_t subtype, std::vector<uint8_t> payload = {});
    void Record(TranscriptEvent event);

    const LinkOptions options_;
    BoardOptions boardOptions_; // the board's own faults stay off: the device injects its own
    platform::Socket listener_;
    uint16_t port_ = 0;
    platform::WakeFd wake_;
    std::atomic<bool> stop_{false};
    std::thread thread_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Transcript transcript_;
    FlashImage flash_;
    PilotBiosService pilotBios_;
    BoardTextTrigger textMessage_;
    std::optional<std::array<uint8_t, 7>> pilotHeader_;
    std::vector<uint8_t> coldLoader_;
    bool authenticated_ = false;
    size_t connections_ = 0;
    size_t writes_ = 0;
};

} // namespace sim
