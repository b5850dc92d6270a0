#include "Rfc2217Server.h"

#include "platform/Rfc2217.h"

#include "platform/SystemError.h"

namespace sim {

namespace rfc = platform::rfc2217;
namespace telnet = platform::telnet;

namespace {

// Host-bound bytes held while the host does not read; the peer's side waits beyond this.
constexpr size_t MaxPendingOut = size_t{64} * 1024;
const char ServerSignature[] = "corvix-sim";
// Until the host sets a mask, every modem line is reported (RFC 2217's initial mask).
constexpr uint8_t InitialModemMask = 0xFF;

// Sends what the socket takes now; the rest goes when the socket has room. False when the
// connection failed.
bool SendAll(platform::Socket &socket, std::vector<uint8_t> &out) {
    const platform::IoResult sent = socket.SendSome(out.data(), out.size(), 0);
    out.erase(out.begin(), out.begin() + long(sent.count));
    return sent.error == 0;
}

uint32_t BigEndian32(const uint8_t *p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

} // namespace

Rfc2217Server::Rfc2217Server(Peer &peer, Rfc2217ServerOptions options)
    : options_(options), channel_(peer, options.pace) {}

Rfc2217Server::~Rfc2217Server() { Stop(); }

bool Rfc2217Server::Start(std::string *error) {
    auto fail = [&](const char *what, int code) {
        if (error) *error = std::string(what) + ": " + platform::SystemErrorText(code);
        listener_.Close();
        return false;
    };
    if (thread_.joinable()) return true;
    if (!channel_.WakeReady()) return fail("wake handle", platform::LastSystemError());
    int code = 0;
    listener_ = platform::Socket::Tcp(&code);
    if (!listener_.Valid()) return fail("socket", code);
    (void)listener_.SetReuseAddress(true); // only eases restarts
    // The simulator serves this machine only.
    if ((code = listener_.Bind(platform::Ipv4Loopback(), options_.port)) != 0)
        return fail("bind 127.0.0.1", code);
    if ((code = listener_.Listen(4)) != 0 || (code = listener_.SetBlocking(false)) != 0)
        return fail("listen", code);
    port_ = listener_.LocalPort();
    if (port_ == 0) return fail("getsockname", platform::LastSystemError());
    stopping_ = false;
    thread_ = std::thread([this] { Loop(); });
    return true;
}

void Rfc2217Server::Stop() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    channel_.Disconnect(); // wakes the loop
    thread_.join();
    CloseConnection();
    listener_.Close();
}

std::string Rfc2217Server::Url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }

void Rfc2217Server::Loop() {
    while (!stopping_) {
        const bool haveConnection = connection_.Valid();
        platform::PollEntry fds[2] = {
            {haveConnection ? connection_.Handle() : listener_.Handle(),
             short(platform::PollIn | (haveConnection && !out_.empty() ? platform::PollOut : 0)),
             0},
            {channel_.WakeFd(), platform::PollIn, 0}};
        if (channel_.PollUntilDue(fds, 2, -1) < 0) break;
        channel_.DrainWake();
        if (stopping_) break;
        if (fds[0].revents & (platform::PollIn | platform::PollHup | platform::PollErr)) {
            if (haveConnection)
                ReadConnection();
            else
                Accept();
        }
        channel_.DeliverDue(SimClock::now());
        if (channel_.TakeDisconnectRequest()) CloseConnection();
        if (auto lines = channel_.TakeModemChange()) {
            const uint8_t changed = uint8_t(*lines ^ reportedLines_);
            reportedLines_ = *lines;
            if (connection_.Valid()) SendModemState(*lines, changed);
        }
        const size_t room = out_.size() < MaxPendingOut ? MaxPendingOut - out_.size() : 0;
        std::vector<uint8_t> data;
        channel_.TakeForHost(SimClock::now(), room, data);
        if (connection_.Valid())
            telnet::AppendData(out_, data.data(),
                               data.size()); // with no host, the bytes are lost, as on a wire
        Flush();
    }
}

void Rfc2217Server::Accept() {
    platform::Socket accepted = listener_.Accept();
    if (!accepted.Valid()) return; // the host gave up before we took it; keep listening
    if (accepted.SetBlocking(false) != 0) return; // a loop that polls cannot serve it
    (void)accepted.SetNoDelay(true);              // only latency at stake
    connection_ = std::move(accepted);
    decoder_.Reset();
    telnetOptions_ = telnet::TelnetOptions();
    telnetOptions_.Support(telnet::OptionBinary, true, true);
    telnetOptions_.Support(telnet::OptionSuppressGoAhead, true, true);
    telnetOptions_.Support(telnet::OptionComPort, false, true);
    out_.clear();
    modemMask_ = InitialModemMask;
    channel_.HostConnected(true);
    {
        std::lock_guard lock(mutex_);
        connected_ = true;
        ++accepted_;
    }
    changed_.notify_all();
}

void Rfc2217Server::CloseConnection() {
    if (!connection_.Valid()) return;
    connection_.Close();
    out_.clear();
    channel_.HostConnected(false);
    {
        std::lock_guard lock(mutex_);
        connected_ = false;
    }
    changed_.notify_all();
}

void Rfc2217Server::ReadConnection() {
    uint8_t chunk[4096];
    const platform::IoResult got = connection_.Recv(chunk, sizeof chunk);
    if (got.error != 0 && platform::IsWouldBlock(got.error)) return;
    if (got.error != 0 || got.count <= 0) {
        CloseConnection();
        return;
    }
    decoder_.Feed(chunk, size_t(got.count), *this);
}

void Rfc2217Server::Flush() {
    if (connection_.Valid() && !out_.empty() && !SendAll(connection_, out_)) CloseConnection();
}

void Rfc2217Server::OnData(const uint8_t *data, size_t count) {
    channel_.FromHost(data, count, SimClock::now());
}

void Rfc2217Server::OnNegotiation(uint8_t verb, uint8_t option) {
    const bool comPortBefore = telnetOptions_.RemoteEnabled(telnet::OptionComPort);
    telnetOptions_.Receive(verb, option, out_);
    // Once the option is agreed the host learns the lines as they are, as real servers do.
    if (!comPortBefore && telnetOptions_.RemoteEnabled(telnet::OptionComPort)) ReportModemLines();
}

void Rfc2217Server::ReportModemLines() {
    if (!options_.answerComPortCommands) return;
    const uint8_t body[2] = {rfc::ServerOffset + rfc::NotifyModemState,
                             uint8_t(reportedLines_ & modemMask_ & 0xF0)};
    telnet::AppendSubnegotiation(out_, telnet::OptionComPort, body, sizeof body);
}

void Rfc2217Server::Answer(uint8_t command, const uint8_t *value, size_t count) {
    if (!options_.answerComPortCommands) return;
    std::vector<uint8_t> body{uint8_t(command + rfc::ServerOffset)};
    body.insert(body.end(), value, value + count);
    telnet::AppendSubnegotiation(out_, telnet::OptionComPort, body.data(), body.size());
}

void Rfc2217Server::Record(LineEventKind kind, uint32_t value, SimClock::time_point now) {
    const LineEvent event{kind, value, now};
    {
        std::lock_guard lock(mutex_);
        line_.Apply(event);
        events_.push_back(event);
    }
    changed_.notify_all();
    channel_.LineChange(event);
}

void Rfc2217Server::SendModemState(uint8_t lines, uint8_t changed) {
    const uint8_t report = uint8_t(lines | (changed >> 4)); // the delta bits sit below the lines
    if (!options_.answerComPortCommands || ((changed | (changed >> 4)) & modemMask_) == 0) return;
    const uint8_t body[2] = {rfc::ServerOffset + rfc::NotifyModemState,
                             uint8_t(report & modemMask_)};
    telnet::AppendSubnegotiation(out_, telnet::OptionComPort, body, sizeof body);
}

void Rfc2217Server::OnSubnegotiation(uint8_t option, const uint8_t *value, size_t count) {
    if (option != telnet::OptionComPort || count == 0) return;
    const uint8_t command = value[0];
    const uint8_t *argument = value + 1;
    const size_t length = count - 1;
    const auto now = SimClock::now();
    LineState line = CurrentLine();
    // A command of the wrong length is not one we understand; it is ignored, not guessed at.
    switch (command) {
    case rfc::Signature:
        if (length == 0)
            Answer(command, reinterpret_cast<const uint8_t *>(ServerSignature),
                   sizeof ServerSignature - 1);
        break;
    case rfc::SetBaudRate: {
        if (length != 4) break;
        uint32_t rate = BigEndian32(argument);
        if (rate != 0 && rate != line.baudRate) Record(LineEventKind::BaudRate, rate, now);
        rate = rate ? rate : line.baudRate;
        const uint8_t applied[4] = {uint8_t(rate >> 24), uint8_t(rate >> 16), uint8_t(rate >> 8),
                                    uint8_t(rate)};
        Answer(command, applied, sizeof applied);
        break;
    }
    case rfc::SetDataSize:
    case rfc::SetParity:
    case rfc::SetStopSize: {
        if (length != 1) break;
        const uint8_t asked = argument[0];
        const LineEventKind kind = command == rfc::SetDataSize ? LineEventKind::DataSize
                                   : command == rfc::SetParity ? LineEventKind::Parity
                                                               : LineEventKind::StopSize;
        uint32_t current = command == rfc::SetDataSize ? line.dataSize
                           : command == rfc::SetParity ? line.parity
                                                       : line.stopSize;
        const bool valid = command == rfc::SetDataSize ? asked >= 5 && asked <= 8
                           : command == rfc::SetParity ? asked >= 1 && asked <= 5
                                                       : asked >= 1 && asked <= 3;
        if (valid && asked != current) {
            Record(kind, asked, now);
            current = asked;
        }
        Answer(command, uint8_t(current));
        break;
    }
    case rfc::SetControl:
        if (length == 1) HandleControl(argument[0], now);
        break;
    case rfc::SetLineStateMask:
        if (length == 1) Answer(command, argument[0]);
        break;
    case rfc::SetModemStateMask:
        if (length != 1) break;
        modemMask_ = argument[0];
        Answer(command, modemMask_);
        ReportModemLines();
        break;
    case rfc::PurgeData:
        if (length != 1 || argument[0] < rfc::PurgeReceive || argument[0] > rfc::PurgeBoth) break;
        // The server's receive buffer holds what came from the board; its transmit buffer what
        // goes to it.
        if (argument[0] & rfc::PurgeReceive) channel_.PurgeToHost();
        if (argument[0] & rfc::PurgeTransmit) channel_.PurgeToPeer();
        Answer(command, argument[0]);
        break;
    default: break; // flow suspend/resume and unknown commands change nothing here
    }
}

void Rfc2217Server::HandleControl(uint8_t value, SimClock::time_point now) {
    const LineState line = CurrentLine();
    auto set = [&](LineEventKind kind, uint32_t current, uint32_t wanted) {
        if (current != wanted) Record(kind, wanted, now);
        Answer(rfc::SetControl, value);
    };
    switch (value) {
    case rfc::ControlAskFlow: Answer(rfc::SetControl, uint8_t(line.flowControl)); break;
    case rfc::ControlFlowNone:
    case rfc::ControlFlowXonXoff:
    case rfc::ControlFlowHardware: set(LineEventKind::FlowControl, line.flowControl, value); break;
    case rfc::ControlAskBreak:
        Answer(rfc::SetControl, line.breakOn ? rfc::ControlBreakOn : rfc::ControlBreakOff);
        break;
    case rfc::ControlBreakOn:
    case rfc::ControlBreakOff:
        set(LineEventKind::Break, line.breakOn, value == rfc::ControlBreakOn);
        break;
    case rfc::ControlAskDtr:
        Answer(rfc::SetControl, line.dtr ? rfc::ControlDtrOn : rfc::ControlDtrOff);
        break;
    case rfc::ControlDtrOn:
    case rfc::ControlDtrOff: set(LineEventKind::Dtr, line.dtr, value == rfc::ControlDtrOn); break;
    case rfc::ControlAskRts:
        Answer(rfc::SetControl, line.rts ? rfc::ControlRtsOn : rfc::ControlRtsOff);
        break;
    case rfc::ControlRtsOn:
    case rfc::ControlRtsOff: set(LineEventKind::Rts, line.rts, value == rfc::ControlRtsOn); break;
    default: break; // inbound flow-control variants: nothing to simulate
    }
}

void Rfc2217Server::SetDsr(bool on) {
    const uint8_t lines = channel_.ModemLines();
    channel_.SetModemLines(on ? uint8_t(lines | ModemDsr) : uint8_t(lines & ~ModemDsr));
}

LineState Rfc2217Server::CurrentLine() const {
    std::lock_guard lock(mutex_);
    return line_;
}

std::vector<LineEvent> Rfc2217Server::LineEvents() const {
    std::lock_guard lock(mutex_);
    return events_;
}

void Rfc2217Server::ClearLineEvents() {
    std::lock_guard lock(mutex_);
    events_.clear();
}

std::vector<LineEvent> Rfc2217Server::WaitForLineEvents(size_t count,
                                                        std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return events_.size() >= count; });
    return events_;
}

bool Rfc2217Server::WaitForClient(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return connected_; });
}

bool Rfc2217Server::ClientConnected() const {
    std::lock_guard lock(mutex_);
    return connected_;
}

size_t Rfc2217Server::ConnectionsAccepted() const {
    std::lock_guard lock(mutex_);
    return accepted_;
}

} // namespace sim
