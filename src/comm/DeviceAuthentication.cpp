#include "comm/DeviceAuthentication.h"

#include "platform/Md5.h"

#include <algorithm>

namespace {

constexpr uint8_t NoPassphrase = 0;
constexpr uint8_t PassphraseChallenge = 1;
constexpr size_t ChallengeSize = 16;

} // namespace

std::optional<std::array<uint8_t, 16>>
DeviceAuthenticationAnswer(const uint8_t *payload, uint16_t length,
                           const PassphraseCallback &passphrase) {
    if (!payload || length < 1) return std::nullopt;
    if (payload[0] == NoPassphrase) return std::array<uint8_t, 16>{};
    if (payload[0] != PassphraseChallenge || length < 1 + ChallengeSize || !passphrase)
        return std::nullopt;
    const std::array<uint8_t, 16> key = passphrase();
    platform::Md5Context digest;
    digest.Update(payload + 1, ChallengeSize);
    digest.Update(key.data(), key.size());
    const platform::Md5Digest answer = digest.Final();
    std::array<uint8_t, 16> out{};
    std::copy(answer.begin(), answer.end(), out.begin());
    return out;
}

void DeviceAuthenticationHandler(const uint8_t *payload, uint16_t length, void *context) {
    auto *auth = static_cast<DeviceAuthentication *>(context);
    if (!auth || !auth->connection) return;
    auto answer = DeviceAuthenticationAnswer(payload, length, auth->passphrase);
    if (!answer) {
        auth->outcome = DeviceAuthOutcome::Refused;
        return;
    }
    auth->connection->RegisterHandler(packet::TypeDbg, DbgChallengeAnswer, nullptr, nullptr, false,
                                      false);
    auth->connection->Send(packet::TypeDbg, DbgChallengeAnswer, answer->data(),
                           static_cast<uint32_t>(answer->size()));
    auth->outcome = DeviceAuthOutcome::Answered;
    if (auth->onAnswered) auth->onAnswered();
}
