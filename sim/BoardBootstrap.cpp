#include "BoardBootstrap.h"

#include "FrameCodec.h"

#include <algorithm>

namespace sim {

TripletKind Triplet::Kind() const {
    if (bytes == StartTriplet) return TripletKind::Start;
    if (bytes == AboutToEndTriplet) return TripletKind::AboutToEnd;
    if (bytes == EndTriplet) return TripletKind::End;
    return bytes[0] & 0x80 ? TripletKind::UnknownControl : TripletKind::Data;
}

std::optional<Triplet> TripletReader::Take(uint8_t byte) {
    pending_.bytes[filled_++] = byte;
    if (filled_ < pending_.bytes.size()) return std::nullopt;
    filled_ = 0;
    return pending_;
}

bool TripletScanner::Take(uint8_t byte) {
    window_ = {window_[1], window_[2], byte};
    if (window_ != wanted_) return false;
    window_ = {};
    return true;
}

void BootstrapRam::Store(const Triplet &triplet) {
    // Data triplets have the top bit of H clear, so the address is always below Size.
    bytes_[size_t((triplet.bytes[0] & 0x7F) << 8 | triplet.bytes[1])] = triplet.bytes[2];
}

std::vector<uint8_t> BootstrapRam::Read(uint16_t address, size_t count) const {
    if (address >= Size) return {};
    const size_t available = std::min(count, Size - address);
    return {bytes_.begin() + address, bytes_.begin() + long(address + available)};
}

uint16_t PilotChecksum(const uint8_t *data, size_t count, uint16_t state) {
    // The same end-around-carry pair as the packet checksum, only started after the marker.
    return Fletcher8(data, count, state);
}

void PilotUpload::Reset() {
    phase_ = Phase::Header;
    headerBytes_.clear();
    header_ = {};
    echo_ = 0;
    remaining_ = 0;
    checksum_ = ChecksumStart;
}

PilotUpload::Step PilotUpload::Take(uint8_t byte) {
    switch (phase_) {
    case Phase::Header: return TakeHeaderByte(byte);
    case Phase::Marker:
        if (byte != Marker) {
            Reset();
            return Step::MarkerMissing;
        }
        phase_ = Phase::Payload;
        return remaining_ == 0 ? Finish() : Step::Busy;
    case Phase::Payload:
        checksum_ = PilotChecksum(&byte, 1, checksum_);
        return --remaining_ == 0 ? Finish() : Step::Busy;
    }
    return Step::Busy;
}

PilotUpload::Step PilotUpload::TakeHeaderByte(uint8_t byte) {
    headerBytes_.push_back(byte);
    if (headerBytes_.size() < 7) return Step::Busy;
    const auto &h = headerBytes_;
    header_.address =
        uint32_t(h[0]) | uint32_t(h[1]) << 8 | uint32_t(h[2]) << 16 | uint32_t(h[3]) << 24;
    header_.length = uint16_t(h[4] | h[5] << 8);
    header_.checksum = h[6];
    unsigned sum = 0;
    for (size_t i = 0; i < 6; ++i) sum += h[i];
    header_.computed = uint8_t(sum);
    headerBytes_.clear();
    if (header_.checksum != header_.computed) {
        // Answering with our own sum shows the host the mismatch the way a real echo would.
        echo_ = header_.computed;
        return Step::HeaderRefused;
    }
    if (header_.length == 0) {
        // The marker alone counts one, so a length of zero cannot describe an upload; its sum
        // being right does not make it one, and the complement can never match what was sent.
        echo_ = uint8_t(~header_.checksum);
        return Step::HeaderRefused;
    }
    echo_ = header_.checksum;
    remaining_ = uint16_t(header_.length - 1);
    checksum_ = ChecksumStart;
    phase_ = Phase::Marker;
    return Step::HeaderTaken;
}

PilotUpload::Step PilotUpload::Finish() {
    phase_ = Phase::Header;
    return Step::Done;
}

} // namespace sim
