#include "platform/Rfc2217Client.h"

#include "platform/Rfc2217.h"
#include "platform/SerialBackends.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

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

int ConnectWithTimeout(uint32_t ipv4, uint16_t port, UniqueFd *out) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) return errno;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(ipv4);
    if (::connect(fd.Get(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS) return errno;
        pollfd pfd{fd.Get(), POLLOUT, 0};
        int ready;
        while ((ready = ::poll(&pfd, 1, ConnectTimeoutMs)) < 0 && errno == EINTR) {
        }
        if (ready == 0) return ETIMEDOUT;
        int error = 0;
        socklen_t length = sizeof error;
        if (ready < 0 || ::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            return errno;
        if (error) return error;
    }
    // Control commands and packets are small and each is wanted on the wire at once.
    int one = 1;
    (void)::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one,
                       sizeof one); // only latency at stake
    *out = std::move(fd);
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
    in_addr address{};
    if (::inet_pton(AF_INET, host.c_str(), &address) != 1) return false;
    if (!ParsePort(rest.substr(colon + 1), port)) return false;
    *ipv4HostOrder = ntohl(address.s_addr);
    return true;
}

std::unique_ptr<SerialPort> OpenRfc2217Device(const std::string &url, SerialError *error) {
    return Rfc2217Client::Connect(url, error);
}

Rfc2217Client::Rfc2217Client(std::string url, UniqueFd socket)
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
        SetSerialError(error, EINVAL, url);
        if (error) error->description += " (expected rfc2217://address:port)";
        return nullptr;
    }
    UniqueFd socket;
    if (int code = ConnectWithTimeout(ipv4, port, &socket)) {
        SetSerialError(error, code, url);
        return nullptr;
    }
    return Attach(url, std::move(socket), error);
}

std::unique_ptr<Rfc2217Client> Rfc2217Client::Attach(const std::string &name, UniqueFd socket,
                                                     SerialError *error) {
    std::unique_ptr<Rfc2217Client> client(new Rfc2217Client(name, std::move(socket)));
    if (!client->stop_.Valid()) {
        SetSerialError(error, EMFILE, name);
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
        SetSerialError(error, ECONNRESET, name);
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
        pollfd fds[2] = {{socket_.Get(), short(POLLIN | (wantOutput ? POLLOUT : 0)), 0},
                         {stop_.Get(), POLLIN, 0}};
        // Bytes queued by another thread while this one sleeps are sent by that thread itself;
        // the slice only bounds how long a partial reply of ours waits.
        if (::poll(fds, 2, wantOutput ? WriteSliceMs : -1) < 0 && errno != EINTR) {
            MarkFailed();
            return;
        }
        if (fds[1].revents & POLLIN) return;
        if ((fds[0].revents & POLLOUT) && !FlushSome()) {
            MarkFailed();
            return;
        }
        if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) && !ReadSocket()) {
            MarkFailed();
            return;
        }
    }
}

bool Rfc2217Client::ReadSocket() {
    uint8_t chunk[4096];
    ssize_t n = ::recv(socket_.Get(), chunk, sizeof chunk, 0);
    if (n < 0) return errno == EAGAIN || errno == EINTR;
    if (n == 0) return false; // the server closed the connection
    decoder_.Feed(chunk, size_t(n), *this);
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
    size_t sent = 0;
    while (sent < out_.size()) {
        ssize_t n = ::send(socket_.Get(), out_.data() + sent, out_.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            break;
        } else {
            out_.erase(out_.begin(), out_.begin() + long(sent));
            return false;
        }
    }
    out_.erase(out_.begin(), out_.begin() + long(sent));
    return true;
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
        pollfd pfd{socket_.Get(), POLLOUT, 0};
        if (::poll(&pfd, 1, WriteSliceMs) < 0 && errno != EINTR) return false;
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
