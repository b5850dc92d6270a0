// The Telnet layer (RFC 854/855) shared by our RFC 2217 client, corvix-sim's RFC 2217 server and
// anything else that speaks Telnet: escaping on the way out, a streaming decoder on the way in,
// and option negotiation that never loops (the small form of RFC 1143's Q method).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform::telnet {

constexpr uint8_t Iac = 255, Dont = 254, Do = 253, Wont = 252, Will = 251, Sb = 250, Se = 240;

constexpr uint8_t OptionBinary = 0;
constexpr uint8_t OptionEcho = 1;
constexpr uint8_t OptionSuppressGoAhead = 3;
constexpr uint8_t OptionComPort = 44; // RFC 2217

// Data with every 0xFF doubled.
void AppendData(std::vector<uint8_t> &out, const uint8_t *data, size_t count);
// IAC verb option, verb one of Will, Wont, Do, Dont.
void AppendNegotiation(std::vector<uint8_t> &out, uint8_t verb, uint8_t option);
// IAC SB option value IAC SE, with 0xFF doubled inside the value.
void AppendSubnegotiation(std::vector<uint8_t> &out, uint8_t option, const uint8_t *value,
                          size_t count);

class TelnetSink {
public:
    virtual ~TelnetSink() = default;
    virtual void OnData(const uint8_t *data, size_t count) = 0;
    virtual void OnNegotiation(uint8_t verb, uint8_t option) = 0;
    virtual void OnSubnegotiation(uint8_t option, const uint8_t *value, size_t count) = 0;
};

// Turns the byte stream from a peer into data runs, negotiations and sub-negotiations. A
// sub-negotiation longer than MaxSubnegotiation is dropped whole; other commands (NOP, GA, ...)
// are ignored.
class TelnetDecoder {
public:
    static constexpr size_t MaxSubnegotiation = 128;

    void Feed(const uint8_t *data, size_t count, TelnetSink &sink);
    void Reset() { *this = TelnetDecoder(); }
    size_t DroppedSubnegotiations() const { return dropped_; }

private:
    enum class State { Data, Escape, Verb, SbOption, SbData, SbEscape };
    void Command(uint8_t byte);

    State state_ = State::Data;
    uint8_t verb_ = 0;
    uint8_t sbOption_ = 0;
    std::array<uint8_t, MaxSubnegotiation> sb_{};
    size_t sbLength_ = 0;
    bool sbOverflow_ = false;
    size_t dropped_ = 0;
};

// Which options each side has agreed to, and the replies a request needs. A request for an
// option that is already in the asked state gets no reply, so two ends can never loop.
class TelnetOptions {
public:
    // Options this end will perform itself (answers DO with WILL) and lets the peer perform
    // (answers WILL with DO). Everything else is refused.
    void Support(uint8_t option, bool local, bool remote);
    // Asks to enable an option on this side (WILL) or on the peer's side (DO).
    void RequestLocal(uint8_t option, std::vector<uint8_t> &out);
    void RequestRemote(uint8_t option, std::vector<uint8_t> &out);
    // Handles a received WILL/WONT/DO/DONT; appends any reply to out.
    void Receive(uint8_t verb, uint8_t option, std::vector<uint8_t> &out);

    bool LocalEnabled(uint8_t option) const { return local_[option] == Q::Yes; }
    bool RemoteEnabled(uint8_t option) const { return remote_[option] == Q::Yes; }
    // The peer has answered the request for this option (either way).
    bool RemoteAnswered(uint8_t option) const { return remote_[option] != Q::WantYes; }
    bool LocalAnswered(uint8_t option) const { return local_[option] != Q::WantYes; }

private:
    enum class Q : uint8_t { No, Yes, WantYes };
    static void Answer(Q &state, bool supported, bool enable, uint8_t yesVerb, uint8_t noVerb,
                       uint8_t option, std::vector<uint8_t> &out);

    std::array<Q, 256> local_{};
    std::array<Q, 256> remote_{};
    std::array<bool, 256> localSupported_{};
    std::array<bool, 256> remoteSupported_{};
};

} // namespace platform::telnet
