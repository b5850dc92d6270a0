#include "FrameCodec.h"

namespace sim {

namespace {

uint16_t Get16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
void Put16(uint8_t *p, uint16_t value) {
    p[0] = uint8_t(value);
    p[1] = uint8_t(value >> 8);
}

} // namespace

uint16_t Fletcher8(const uint8_t *data, size_t count, uint16_t state) {
    unsigned a = state >> 8, b = state & 0xFF;
    for (size_t i = 0; i < count; ++i) {
        a += data[i];
        if (a > 255) a -= 255;
        b += a;
        if (b > 255) b -= 255;
    }
    return uint16_t(a << 8 | b);
}

std::vector<uint8_t> BuildFrame(const Frame &frame) {
    const size_t length = frame.payload.size();
    std::vector<uint8_t> out(FrameHeaderSize + length + 2);
    out[0] = FrameFlag;
    out[1] = 0x02;
    out[2] = 0x00;
    out[3] = frame.type;
    out[4] = frame.subtype;
    Put16(&out[5], uint16_t(length));
    Put16(&out[7], Fletcher8(&out[1], 6));
    std::copy(frame.payload.begin(), frame.payload.end(), out.begin() + FrameHeaderSize);
    Put16(&out[FrameHeaderSize + length], Fletcher8(&out[1], 8 + length));
    return out;
}

std::vector<uint8_t> StuffFrame(const std::vector<uint8_t> &built) {
    std::vector<uint8_t> out;
    out.reserve(built.size() * 2);
    for (size_t i = 0; i < built.size(); ++i) {
        const uint8_t byte = built[i];
        if (i > 0 && (byte == FrameFlag || byte == FrameEscape)) {
            out.push_back(FrameEscape);
            out.push_back(byte ^ 0x20);
        } else {
            out.push_back(byte);
        }
    }
    return out;
}

void FrameDecoder::Restart() {
    state_ = State::Header;
    escaped_ = false;
    header_[0] = FrameFlag;
    headerLength_ = 1;
    payload_.clear();
    trailerLength_ = 0;
}

void FrameDecoder::Feed(const uint8_t *data, size_t count, std::vector<Frame> &frames) {
    for (size_t i = 0; i < count; ++i) {
        const uint8_t byte = data[i];
        if (byte == FrameFlag) {
            if (state_ != State::Hunt) ++bad_; // cut short by the next frame
            Restart();
        } else if (state_ == State::Hunt) {
            // noise between frames
        } else if (escaped_) {
            escaped_ = false;
            Take(byte ^ 0x20, frames);
        } else if (byte == FrameEscape) {
            escaped_ = true;
        } else {
            Take(byte, frames);
        }
    }
}

void FrameDecoder::Take(uint8_t byte, std::vector<Frame> &frames) {
    switch (state_) {
    case State::Hunt: break;
    case State::Header:
        header_[headerLength_++] = byte;
        if (headerLength_ < FrameHeaderSize) break;
        payloadLength_ = Get16(&header_[5]);
        if (payloadLength_ > MaxFramePayload || Fletcher8(&header_[1], 6) != Get16(&header_[7])) {
            ++bad_;
            state_ = State::Hunt;
            break;
        }
        payload_.reserve(payloadLength_);
        state_ = payloadLength_ ? State::Payload : State::Trailer;
        break;
    case State::Payload:
        payload_.push_back(byte);
        if (payload_.size() == payloadLength_) state_ = State::Trailer;
        break;
    case State::Trailer:
        trailer_[trailerLength_++] = byte;
        if (trailerLength_ < 2) break;
        state_ = State::Hunt;
        if (Fletcher8(payload_.data(), payload_.size(), Fletcher8(&header_[1], 8)) !=
            Get16(trailer_)) {
            ++bad_;
            break;
        }
        frames.push_back(Frame{header_[3], header_[4], std::move(payload_)});
        payload_ = {};
        break;
    }
}

} // namespace sim
