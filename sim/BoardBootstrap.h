// The two raw-byte phases of a board in bootstrap mode, each a small byte machine with no I/O of
// its own: the processor's bootstrap ROM taking triplets, then the cold loader taking the pilot
// BIOS upload. The board (BoardPeer) feeds them and acts on what they report.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

// Control triplets begin with 0x80; every other triplet stores a byte in RAM.
constexpr std::array<uint8_t, 3> StartTriplet{0x80, 0x0E, 0x20};
constexpr std::array<uint8_t, 3> AboutToEndTriplet{0x80, 0x0E, 0x30};
constexpr std::array<uint8_t, 3> EndTriplet{0x80, 0x24, 0x80};

enum class TripletKind { Start, Data, AboutToEnd, End, UnknownControl };

struct Triplet {
    std::array<uint8_t, 3> bytes{};
    TripletKind Kind() const;
};

// Groups bytes strictly by position, three at a time, from the last Reset.
class TripletReader {
public:
    std::optional<Triplet> Take(uint8_t byte);
    void Reset() { filled_ = 0; }

private:
    Triplet pending_;
    size_t filled_ = 0;
};

// Spots one triplet anywhere in a stream (a board waiting for a bootstrap, or for the end
// triplet that restarts its program, cannot know where the host's groups begin).
class TripletScanner {
public:
    explicit TripletScanner(const std::array<uint8_t, 3> &wanted = StartTriplet)
        : wanted_(wanted) {}
    bool Take(uint8_t byte);
    void Reset() { window_ = {}; }

private:
    std::array<uint8_t, 3> wanted_;
    std::array<uint8_t, 3> window_{};
};

// The RAM the bootstrap ROM fills from data triplets (address H << 8 | L, H below 0x80).
class BootstrapRam {
public:
    static constexpr size_t Size = 0x8000;
    BootstrapRam() : bytes_(Size, 0) {}
    void Store(const Triplet &triplet);
    std::vector<uint8_t> Read(uint16_t address, size_t count) const;

private:
    std::vector<uint8_t> bytes_;
};

struct PilotHeader {
    uint32_t address = 0;
    uint16_t length = 0;  // marker included
    uint8_t checksum = 0; // as received
    uint8_t computed = 0; // sum of the first six bytes
};

// The cold loader's receiving end of the pilot BIOS upload: the 7-byte header, the marker 0xCC,
// then length - 1 payload bytes whose checksum it answers.
class PilotUpload {
public:
    static constexpr uint8_t Marker = 0xCC;
    static constexpr uint16_t ChecksumStart = 0xCCCC; // the state after the marker from zero

    enum class Step {
        Busy,          // byte taken, nothing to say yet
        HeaderTaken,   // echo(): the byte to send back
        HeaderRefused, // echo(): a byte the host will not take for its checksum
        MarkerMissing, // a valid header was followed by something else; waiting for a header again
        Done,          // checksum(): the upload checksum, to be sent low byte first
    };

    Step Take(uint8_t byte);
    void Reset();
    // The first bytes of the header received so far (for the new-bootstrap check of a board without
    // modem lines).
    const std::vector<uint8_t> &PartialHeader() const { return headerBytes_; }
    const PilotHeader &Header() const { return header_; }
    uint8_t Echo() const { return echo_; }
    uint16_t Checksum() const { return checksum_; }

private:
    enum class Phase { Header, Marker, Payload };
    Step Finish();
    Step TakeHeaderByte(uint8_t byte);

    Phase phase_ = Phase::Header;
    std::vector<uint8_t> headerBytes_;
    PilotHeader header_;
    uint8_t echo_ = 0;
    uint16_t remaining_ = 0;
    uint16_t checksum_ = ChecksumStart;
};

// The upload checksum: ones'-complement running sum S (high byte) and sum of sums T (low byte),
// continued from state over the bytes.
uint16_t PilotChecksum(const uint8_t *data, size_t count,
                       uint16_t state = PilotUpload::ChecksumStart);

} // namespace sim
