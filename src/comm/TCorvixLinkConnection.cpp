#include "comm/TCorvixLinkConnection.h"

TCorvixLinkConnection::TCorvixLinkConnection(platform::HWND window) : TEthernetConnection(window) {}

TCorvixLinkConnection::~TCorvixLinkConnection() { StopReader(); }

void TCorvixLinkConnection::Connect(uint8_t mode) {
    mode_ = mode;
    SetReaderProgress(0);
    if (OpenStream(settings_.CorvixLinkAddress, settings_.CorvixLinkTcpPort, LinkConnectCodes) ==
        ConnectOutcome::Quit)
        return;
    HandOverSocket(false);
    StartReader();
}

void TCorvixLinkConnection::Write(const uint8_t *data, uint32_t count) {
    // The encode buffer starts with the flag the device does not want.
    SendBytes(data + 1, count);
}

uint32_t TCorvixLinkConnection::EncodeFrame(uint32_t payloadLength) {
    const size_t length = packet::EncodePlain(sendHeader_, sendPayload_, payloadLength,
                                              sendChecksum_, encodeBuffer_, sizeof encodeBuffer_);
    if (length == 0) throw xConnectionErr(ConnCode::PayloadTooLong);
    return static_cast<uint32_t>(length);
}

bool TCorvixLinkConnection::StartFrame(uint8_t byte, uint32_t &counter) {
    // No flag on this link: the byte is already header byte 1. The flag is put in front of it so
    // that the header and the logged copy look like those of a serial frame.
    recvHeader_[0] = packet::Flag;
    recvHeader_[1] = byte;
    rawCopy_[0] = packet::Flag;
    rawCopyLength_ = 1; // the parser adds the byte itself behind it
    counter = 2;
    return true;
}

void TCorvixLinkConnection::AppendByte(uint8_t *buffer, uint32_t &counter, uint32_t capacity,
                                       uint8_t byte) {
    if (counter < capacity) buffer[counter++] = byte;
}
