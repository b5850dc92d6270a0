// The packet kinds the loader engine registers on every connection, and the handlers of the
// three kinds that carry a message for the user rather than a reply.
#pragma once

#include "comm/TConnection.h"

#include <cstdint>
#include <span>

struct PacketKind {
    uint8_t type;
    uint8_t subtype;
    PacketHandler handler; // null: a reply kind
    bool waits;            // a request of this kind blocks until its reply arrives
    bool copy;             // the reply payload is copied into the requester's buffer
};

// In registration order.
std::span<const PacketKind> EnginePacketKinds();

// SYS/NAK from the pilot BIOS: "System Nak - reason: %02x type: %02x, subtype: %02x" with
// payload bytes 0, 1 and 2 (bytes the packet does not carry show as 00).
void ShowSystemNak(const uint8_t *payload, uint16_t length, void *context);
// SYS 63: a text from the target, up to its first zero or the end of the payload.
void ShowTargetMessage(const uint8_t *payload, uint16_t length, void *context);
// DBG 57: the network programming device lost the board.
void ShowLoaderDropped(const uint8_t *payload, uint16_t length, void *context);
