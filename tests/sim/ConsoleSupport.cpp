#include "ConsoleSupport.h"

#include "BoardPilotBios.h"
#include "WireBytes.h"

#include "platform/Telnet.h"

namespace consoletest {

namespace {

std::string Line(std::string_view text) {
    return std::string(text) + std::string(sim::console::Newline);
}

} // namespace

ConsoleClient::ConsoleClient(uint16_t port) : socket_(platform::Socket::Tcp()) {
    connectError_ = socket_.Connect(platform::Ipv4Loopback(), port);
    connected_ = socket_.Valid() && connectError_ == 0;
}

bool ConsoleClient::Send(const Bytes &bytes) {
    return socket_.SendAll(bytes.data(), bytes.size()) == 0;
}

bool ConsoleClient::SendLine(const std::string &text) {
    const std::string line = Line(text);
    return Send(Bytes(line.begin(), line.end()));
}

Bytes ConsoleClient::Read(size_t count, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (pending_.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || socket_.WaitReadable(int(left.count())) != 1) break;
        uint8_t buffer[4096];
        const platform::IoResult got = socket_.Recv(buffer, sizeof buffer);
        if (got.error != 0 || got.count == 0) break;
        pending_.insert(pending_.end(), buffer, buffer + got.count);
    }
    const size_t taken = std::min(count, pending_.size());
    Bytes bytes(pending_.begin(), pending_.begin() + long(taken));
    pending_.erase(pending_.begin(), pending_.begin() + long(taken));
    return bytes;
}

std::string ConsoleClient::ReadText(size_t count, std::chrono::milliseconds timeout) {
    const Bytes bytes = Read(count, timeout);
    return std::string(bytes.begin(), bytes.end());
}

bool ConsoleClient::ClosedWithin(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || socket_.WaitReadable(int(left.count())) != 1) return false;
        uint8_t buffer[4096];
        const platform::IoResult got = socket_.Recv(buffer, sizeof buffer);
        if (got.error != 0 || got.count == 0) return true;
    }
}

bool ConsoleClient::Negotiate() {
    using namespace platform::telnet;
    if (Read(3) != Bytes{Iac, Will, OptionEcho} || !Send({Iac, Dont, OptionEcho})) return false;
    return Read(3) == Bytes{Iac, Will, OptionSuppressGoAhead} &&
           Send({Iac, Do, OptionSuppressGoAhead});
}

std::string ConsoleClient::Login(const std::string &user, const std::string &password) {
    using namespace sim::console;
    if (!Negotiate() || ReadText(Line(Greeting).size()) != Line(Greeting) ||
        ReadText(UserPrompt.size()) != UserPrompt || !SendLine(user) ||
        ReadText(Line(PasswordRequired).size()) != Line(PasswordRequired) ||
        ReadText(PasswordPrompt.size()) != PasswordPrompt || !SendLine(password))
        return {};
    return ReadText(Line(LoggedIn).size());
}

bool ConsoleClient::EnterTargetMode(const std::string &user, const std::string &password) {
    using namespace sim::console;
    return Login(user, password) == Line(LoggedIn) && ReadText(Prompt.size()) == Prompt &&
           SendLine(std::string(TargetMode)) &&
           ReadText(Line(TargetModeReply).size()) == Line(TargetModeReply);
}

std::optional<sim::Frame> ConsoleClient::Ask(uint8_t code, const Bytes &payload,
                                             std::chrono::milliseconds timeout) {
    if (!Send(sim::EncodeFrame({0, code, payload}))) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (frames_.empty() && std::chrono::steady_clock::now() < deadline) {
        const Bytes bytes = Read(1, 50ms);
        decoder_.Feed(bytes.data(), bytes.size(), frames_);
    }
    if (frames_.empty()) return std::nullopt;
    sim::Frame frame = std::move(frames_.front());
    frames_.erase(frames_.begin());
    return frame;
}

Bytes WritePayload(uint32_t address, const Bytes &data) {
    Bytes payload{0};
    sim::PutLe16(payload, uint16_t(data.size()));
    sim::PutLe32(payload, address);
    payload.insert(payload.end(), data.begin(), data.end());
    return payload;
}

} // namespace consoletest
