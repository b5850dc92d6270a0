// TCorvixLinkConnection: packets to a board through a CorvixLink network programming device, over
// one TCP connection. Frames travel without the flag and without byte stuffing (02 00 type
// subtype length header-checksum payload checksum, 10 + n bytes), so a payload byte 0x7E goes out
// as it is, and any byte may begin a frame on the way in.
#pragma once

#include "comm/TEthernetConnection.h"

class TCorvixLinkConnection : public TEthernetConnection {
public:
    explicit TCorvixLinkConnection(platform::HWND window);
    // The reader parses with this kind's framing: it ends before the kind goes.
    ~TCorvixLinkConnection() override;

    // Connects to "CorvixLink Address" and "CorvixLink TCP Port" of the settings (see
    // TEthernetConnection::OpenStream for the failures) and starts the reader.
    void Connect(uint8_t mode) override;

protected:
    // Sends the frame without its flag byte.
    void Write(const uint8_t *data, uint32_t count) override;
    uint32_t EncodeFrame(uint32_t payloadLength) override;
    bool StuffsFrames() const override { return false; }
    bool StartFrame(uint8_t byte, uint32_t &counter) override;
    void AppendByte(uint8_t *buffer, uint32_t &counter, uint32_t capacity, uint8_t byte) override;
};
