// The answer to the CorvixLink device's opening challenge (DBG code 63). The device asks either
// for nothing in particular (payload byte 0 = 0: the answer is 16 zero bytes) or for proof of the
// passphrase (byte 0 = 1, bytes 1-16 a challenge: the answer is MD5 of the challenge followed by
// the 16-byte key the passphrase provider gives). The answer goes back as DBG code 62.
//
// Any other challenge (byte 0 neither 0 nor 1, or a challenge shorter than 16 bytes) is not
// answered: guessing would hand a device we do not understand something derived from the key.
// The handler records that as Refused, so the engine can fail the connect at once instead of
// carrying on with a device that will not let it in.
#pragma once

#include "comm/TConnection.h"
#include "comm/PassphraseCallback.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

inline constexpr uint8_t DbgChallenge = 63;
inline constexpr uint8_t DbgChallengeAnswer = 62;

// What became of the device's challenge.
enum class DeviceAuthOutcome { NotSeen, Answered, Refused };

// The 16-byte answer to a challenge payload, or empty for a challenge we do not take. The
// passphrase provider is called only for a passphrase challenge.
std::optional<std::array<uint8_t, 16>>
DeviceAuthenticationAnswer(const uint8_t *payload, uint16_t length,
                           const PassphraseCallback &passphrase);

// The context of the handler: what it needs, and what it tells the engine.
struct DeviceAuthentication {
    TConnection *connection = nullptr;
    PassphraseCallback passphrase;
    // Called once the answer has gone out: the engine marks its connect progress here.
    std::function<void()> onAnswered;
    DeviceAuthOutcome outcome = DeviceAuthOutcome::NotSeen;
    bool emptyPassphrase = false; // the key given was the empty passphrase's
};

// A PacketHandler for DBG code 63; context is a DeviceAuthentication. Runs on the user-interface
// thread. Registers DBG code 62 as a plain entry and sends the answer through the connection;
// a failing send propagates (the packet layer's hook keeps it from the wait).
void DeviceAuthenticationHandler(const uint8_t *payload, uint16_t length, void *context);
