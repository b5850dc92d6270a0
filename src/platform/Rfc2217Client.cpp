#include "platform/Rfc2217Client.h"

#include "platform/Rfc2217.h"
#include "platform/SerialBackends.h"

#include "platform/SystemError.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace platform {

namespace {

constexpr int ConnectTimeoutMs = 5000;
// How long the open waits for the server to take up the Com Port Control Option before it goes
// on regardless (a plain Telnet server never answers).
constexpr int ComPortAnswerMs = 1000;
constexpr int WriteSliceMs = 50;

using Clock = std::chrono::steady_clock;

bool ParsePort(const std::string &text, uint16_t *port) {
    if (text.empty() || text.size() > 5) return false;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + uint32_t(c - '0');
    }
    if (value == 0 || value > 65535) return false;
    *port = uint16_t(value);
    return true;
}

// Network order keeps the first octet first in memory, whatever the host's byte order.
uint32_t HostOrder(uint32_t networkOrder) {
    uint8_t octets[4];
    std::memcpy(octets, &networkOrder, sizeof octets);
    return uint32_t(octets[0]) << 24 | uint32_t(octets[1]) << 16 | uint32_t(octets[2]) << 8 |
           octets[3];
}

uint32_t NetworkOrder(uint32_t hostOrder) {
    const uint8_t octets[4] = {uint8_t(hostOrder >> 24), uint8_t(hostOrder >> 16),
                               uint8_t(hostOrder >> 8), uint8_t(hostOrder)};
    uint32_t value = 0;
    std::memcpy(&value, octets, sizeof value);
    return value;
}

int ConnectWithTimeout(uint32_t ipv4, uint16_t port, Socket *out) {
    int error = 0;
    Socket socket = Socket::Tcp(&error);
    if (!socket.Valid()) return error;
    if ((error = socket.SetBlocking(false)) != 0) return error;
    if ((error = socket.Connect(NetworkOrder(ipv4), port)) != 0) {
        if (!IsWouldBlock(error)) return error;
        PollEntry entry{socket.Handle(), PollOut, 0};
        const int ready = Poll(&entry, 1, ConnectTimeoutMs);
        if (ready == 0) return ErrorTimedOut;
        if (ready < 0) return LastSystemError();
        if ((error = socket.PendingError()) != 0) return error;
    }
    // Control commands and packets are small and each is wanted on the wire at once.
    (void)socket.SetNoDelay(true); // only latency at stake
    *out = std::move(socket);
    return 0;
}

uint8_t StopSizeCode(int stopBits) {
    switch (stopBits) {
    case 1: return rfc2217::StopOneAndHalf;
    case 2: return rfc2217::StopTwo;
    default: return rfc2217::StopOne;
    }
}

} // namespace

bool ParseRfc2217Url(const std::string &url, uint32_t *ipv4HostOrder, uint16_t *port) {
    const std::string scheme = Rfc2217Scheme;
    if (url.rfind(scheme, 0) != 0) return false;
    const std::string rest = url.substr(scheme.size());
    const size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string host = rest.substr(0, colon);
    if (host == "localhost") host = "127.0.0.1";
    const std::optional<uint32_t> address = ParseIpv4(host);
    if (!address) return false;
    if (!ParsePort(rest.substr(colon + 1), port)) return false;
    *ipv4HostOrder = HostOrder(*address);
    return true;
}

std::unique_ptr<SerialPort> OpenRfc2217Device(const std::string &url, SerialError *error) {
    return Rfc2217Client::Connect(url, error);
}

Rfc2217Client::Rfc2217Client(std::string url, Socket socket)
    : url_(std::move(url)), socket_(std::move(socket)) {
    options_.Support(telnet::OptionBinary, true, true);
    options_.Support(telnet::OptionSuppressGoAhead, true, true);
    options_.Support(telnet::OptionComPort, true, false);
}

Rfc2217Client::~Rfc2217Client() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    stop_.Signal();
    if (reader_.joinable()) reader_.join();
}

std::unique_ptr<Rfc2217Client> Rfc2217Client::Connect(const std::string &url, SerialError *error) {
    uint32_t ipv4 = 0;
    uint16_t port = 0;
    if (!ParseRfc2217Url(url, &ipv4, &port)) {
        SetSerialError(error, ErrorInvalidArgument, url);
        if (error) error->description += " (expected rfc2217://address:port)";
        return nullptr;
    }
    Socket socket;
    if (int code = ConnectWithTimeout(ipv4, port, &socket)) {
        SetSerialError(error, code, url);
        return nullptr;
    }
    return Attach(url, std::move(socket), error);
}

std::unique_ptr<Rfc2217Client> Rfc2217Client::Attach(const std::string &name, Socket socket,
                                                     SerialError *error) {
    std::unique_ptr<Rfc2217Client> client(new Rfc2217Client(name, std::move(socket)));
    if (!client->stop_.Valid()) {
        SetSerialError(error, ErrorTooManyHandles, name);
        return nullptr;
    }
    {
        std::lock_guard lock(client->outMutex_);
        client->options_.RequestLocal(telnet::OptionBinary, client->out_);
        client->options_.RequestRemote(telnet::OptionBinary, client->out_);
        client->options_.RequestLocal(telnet::OptionComPort, client->out_);
    }
    client->reader_ = std::thread([c = client.get()] { c->ReaderLoop(); });
    {
        std::unique_lock lock(client->mutex_);
        client->changed_.wait_for(lock, std::chrono::milliseconds(ComPortAnswerMs),
                                  [&] { return client->comPortAnswered_ || client->failed_; });
    }
    // Ask for every modem line, so that DSR changes arrive on their own.
    client->QueueComPortCommand(rfc2217::SetModemStateMask, 0xFF);
    if (!client->FlushAll()) {
        SetSerialError(error, ErrorConnectionReset, name);
        return nullptr;
    }
    return client;
}

void Rfc2217Client::ReaderLoop() {
    for (;;) {
        {
            // A caller that does not read holds the server back through TCP, not through memory.
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || input_.size() < MaxBuffered; });
            if (stopping_ || failed_) return;
        }
        bool wantOutput;
        {
            std::lock_guard lock(outMutex_);
            wantOutput = !out_.empty();
        }
        PollEntry fds[2] = {{socket_.Handle(), short(PollIn | (wantOutput ? PollOut : 0)), 0},
                            {stop_.Get(), PollIn, 0}};
        // Bytes queued by another thread while this one sleeps are sent by that thread itself;
        // the slice only bounds how long a partial reply of ours waits.
        if (Poll(fds, 2, wantOutput ? WriteSliceMs : -1) < 0) {
            MarkFailed();
            return;
        }
        if (fds[1].revents & PollIn) return;
        if ((fds[0].revents & PollOut) && !FlushSome()) {
            MarkFailed();
            return;
        }
        if ((fds[0].revents & (PollIn | PollHup | PollErr)) && !ReadSocket()) {
            MarkFailed();
            return;
        }
    }
}

bool Rfc2217Client::ReadSocket() {
    uint8_t chunk[4096];
    const IoResult got = socket_.Recv(chunk, sizeof chunk);
    if (got.error != 0) return IsWouldBlock(got.error);
    if (got.count == 0) return false; // the server closed the connection
    decoder_.Feed(chunk, size_t(got.count), *this);
    return FlushSome(); // negotiation replies, if the decoder produced any
}

void Rfc2217Client::MarkFailed() {
    {
        std::lock_guard lock(mutex_);
        failed_ = true;
    }
    changed_.notify_all();
}

void Rfc2217Client::OnData(const uint8_t *data, size_t count) {
    {
        std::lock_guard lock(mutex_);
        input_.Append(data, count);
    }
    changed_.notify_all();
}

void Rfc2217Client::OnNegotiation(uint8_t verb, uint8_t option) {
    {
        std::lock_guard lock(outMutex_);
        options_.Receive(verb, option, out_);
    }
    if (option == telnet::OptionComPort && options_.LocalAnswered(option)) {
        {
            std::lock_guard lock(mutex_);
            comPortAnswered_ = true;
            comPortAccepted_ = options_.LocalEnabled(option);
        }
        changed_.notify_all();
    }
}

void Rfc2217Client::OnSubnegotiation(uint8_t option, const uint8_t *value, size_t count) {
    if (option != telnet::OptionComPort || count == 0) return;
    const uint8_t command = value[0];
    std::lock_guard lock(mutex_);
    if (command == rfc2217::ServerOffset + rfc2217::NotifyModemState && count == 2) {
        modemState_ = value[1];
        modemKnown_ = true;
    } else if (command == rfc2217::ServerOffset + rfc2217::SetBaudRate && count == 5) {
        reportedBaud_ = uint32_t(value[1]) << 24 | uint32_t(value[2]) << 16 |
                        uint32_t(value[3]) << 8 | value[4];
    }
    // Other answers only confirm what was asked; nothing here depends on them.
}

void Rfc2217Client::QueueComPortCommand(uint8_t command, const uint8_t *value, size_t count) {
    std::vector<uint8_t> body;
    body.reserve(count + 1);
    body.push_back(command);
    body.insert(body.end(), value, value + count);
    std::lock_guard lock(outMutex_);
    telnet::AppendSubnegotiation(out_, telnet::OptionComPort, body.data(), body.size());
}

bool Rfc2217Client::FlushSome() {
    std::lock_guard lock(outMutex_);
    // What the socket does not take now goes when it has room.
    const IoResult sent = socket_.SendSome(out_.data(), out_.size(), 0);
    out_.erase(out_.begin(), out_.begin() + sent.count);
    return sent.error == 0;
}

bool Rfc2217Client::FlushAll() {
    unsigned generation;
    {
        std::lock_guard lock(mutex_);
        generation = wakeGeneration_;
    }
    for (;;) {
        if (!FlushSome()) return false;
        {
            std::lock_guard lock(outMutex_);
            if (out_.empty()) return true;
        }
        {
            std::lock_guard lock(mutex_);
            if (failed_ || stopping_ || wakeGeneration_ != generation) return false;
        }
        PollEntry entry{socket_.Handle(), PollOut, 0};
        if (Poll(&entry, 1, WriteSliceMs) < 0) return false;
    }
}

bool Rfc2217Client::Configure(const SerialSettings &settings) {
    if (settings.baudRate == 0 || settings.stopBits < 0 || settings.stopBits > 2 ||
        settings.dtrControl < 0 || settings.dtrControl > DTR_CONTROL_HANDSHAKE ||
        settings.rtsControl < 0 || settings.rtsControl > RTS_CONTROL_TOGGLE)
        return false;
    if (!DrainOutput()) return false;
    const uint32_t baud = settings.baudRate;
    const uint8_t rate[4] = {uint8_t(baud >> 24), uint8_t(baud >> 16), uint8_t(baud >> 8),
                             uint8_t(baud)};
    QueueComPortCommand(rfc2217::SetBaudRate, rate, sizeof rate);
    QueueComPortCommand(rfc2217::SetDataSize, 8);
    QueueComPortCommand(rfc2217::SetParity, rfc2217::ParityNone);
    QueueComPortCommand(rfc2217::SetStopSize, StopSizeCode(settings.stopBits));
    const bool hardwareFlow = settings.rtsControl == RTS_CONTROL_HANDSHAKE;
    QueueComPortCommand(rfc2217::SetControl,
                        hardwareFlow ? rfc2217::ControlFlowHardware : rfc2217::ControlFlowNone);
    // No DTR handshake exists over RFC 2217: "handshake" keeps DTR up. RTS toggle is the remote
    // UART's business; RTS stays up so that a half-duplex adapter can send.
    QueueComPortCommand(rfc2217::SetControl, settings.dtrControl == DTR_CONTROL_DISABLE
                                                 ? rfc2217::ControlDtrOff
                                                 : rfc2217::ControlDtrOn);
    if (!hardwareFlow)
        QueueComPortCommand(rfc2217::SetControl, settings.rtsControl == RTS_CONTROL_DISABLE
                                                     ? rfc2217::ControlRtsOff
                                                     : rfc2217::ControlRtsOn);
    {
        std::lock_guard lock(mutex_);
        configuredBaud_ = baud;
    }
    return FlushAll();
}

bool Rfc2217Client::Write(const uint8_t *data, size_t count) {
    const auto byteTime = ByteTime();
    {
        std::lock_guard lock(outMutex_);
        telnet::AppendData(out_, data, count);
        wireFreeAt_ = std::max(wireFreeAt_, Clock::now()) + byteTime * count;
    }
    return FlushAll();
}

std::chrono::nanoseconds Rfc2217Client::ByteTime() const {
    std::lock_guard lock(mutex_);
    const uint32_t rate = configuredBaud_ != 0 ? configuredBaud_ : 9600;
    return std::chrono::nanoseconds(10'000'000'000LL / rate); // start, 8 data bits, stop
}

long Rfc2217Client::BytesOnTheWire() {
    const auto byteTime = ByteTime();
    Clock::time_point freeAt;
    {
        std::lock_guard lock(outMutex_);
        freeAt = wireFreeAt_;
    }
    const auto left = freeAt - Clock::now();
    if (left.count() <= 0) return 0;
    return long((left + byteTime - std::chrono::nanoseconds(1)) / byteTime);
}

long Rfc2217Client::ReadNow(uint8_t *data, size_t count) {
    size_t taken;
    {
        std::lock_guard lock(mutex_);
        if (input_.empty()) return failed_ ? -1 : 0;
        taken = input_.Take(data, count);
    }
    changed_.notify_all(); // the reader may be holding back for room
    return long(taken);
}

int Rfc2217Client::WaitReadable(int timeoutMs) {
    std::unique_lock lock(mutex_);
    auto ready = [&] { return wakePending_ || !input_.empty() || failed_; };
    if (timeoutMs < 0)
        changed_.wait(lock, ready);
    else
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    if (wakePending_) {
        wakePending_ = false;
        return 0;
    }
    if (!input_.empty()) return 1;
    return failed_ ? -1 : 0;
}

void Rfc2217Client::Wake() {
    {
        std::lock_guard lock(mutex_);
        wakePending_ = true;
        ++wakeGeneration_;
    }
    changed_.notify_all();
}

long Rfc2217Client::InputQueueCount() {
    std::lock_guard lock(mutex_);
    return failed_ && input_.empty() ? -1 : long(input_.size());
}

long Rfc2217Client::OutputQueueCount() {
    size_t pending;
    {
        std::lock_guard lock(outMutex_);
        pending = out_.size();
    }
    // Bytes the socket has taken are in the stream to the server, ahead of anything that follows;
    // what counts is what the remote port still has to shift out.
    return long(pending) + BytesOnTheWire();
}

bool Rfc2217Client::PurgeInput() {
    QueueComPortCommand(rfc2217::PurgeData, rfc2217::PurgeReceive);
    {
        std::lock_guard lock(mutex_);
        input_.clear();
    }
    changed_.notify_all();
    return FlushAll();
}

bool Rfc2217Client::DrainOutput() {
    if (!FlushAll()) return false;
    Clock::time_point freeAt;
    {
        std::lock_guard lock(outMutex_);
        freeAt = wireFreeAt_;
    }
    std::this_thread::sleep_until(freeAt);
    // The bytes left us in stream order, ahead of any line change that follows them; waiting for
    // TCP's acknowledgement as well would only add the peer's delayed-ACK time to every frame.
    std::lock_guard lock(mutex_);
    return !failed_;
}

bool Rfc2217Client::GetModemStatus(uint32_t *status) {
    std::lock_guard lock(mutex_);
    if (!modemKnown_ || failed_) return false;
    *status = modemState_ & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
    return true;
}

std::optional<uint32_t> Rfc2217Client::ReportedBaudRate() const {
    std::lock_guard lock(mutex_);
    return reportedBaud_;
}

bool Rfc2217Client::ComPortAccepted() const {
    std::lock_guard lock(mutex_);
    return comPortAccepted_;
}

} // namespace platform
