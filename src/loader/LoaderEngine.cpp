#include "loader/LoaderEngine.h"

#include "platform/Md5.h"

#include "comm/CommLog.h"
#include "comm/CommLogSwitches.h"
#include "comm/PacketCodec.h"
#include "comm/TCorvixLinkConnection.h"
#include "loader/LoaderErrors.h"
#include "loader/LoaderStage.h"
#include "loader/PacketKinds.h"
#include "platform/Md5.h"
#include "targetos/TCorvixSysConnection.h"

#include <algorithm>

#include <cstring>
#include <utility>

// ---- the process's engine ----

LoaderEngine &ProcessLoaderEngine() {
    // Never destroyed: a connection still open at exit would otherwise be torn down after the
    // message system it is hooked into.
    static LoaderEngine *const engine = new LoaderEngine;
    return *engine;
}

LoaderEngineApi &TheLoaderEngine() { return ProcessLoaderEngine(); }

void SetUsbSerialDelay(uint8_t flag, int32_t delayMs) {
    ProcessLoaderEngine().SetUsbSerialDelay(flag, delayMs);
}

void GetUsbSerialDelay(uint8_t &flag, int32_t &delayMs) {
    ProcessLoaderEngine().GetUsbSerialDelay(flag, delayMs);
}

// ---- state ----

LoaderEngine::LoaderEngine() = default;

// The serial connection goes before the network one; both stop their readers on the way.
LoaderEngine::~LoaderEngine() {
    current_ = nullptr;
    serial_.reset();
    DropNetworkConnection();
}

void LoaderEngine::SetUsbSerialDelay(uint8_t flag, int32_t delayMs) {
    usbSerialFlag_ = flag;
    usbSerialDelayMs_ = delayMs;
}

void LoaderEngine::GetUsbSerialDelay(uint8_t &flag, int32_t &delayMs) const {
    flag = usbSerialFlag_;
    delayMs = usbSerialDelayMs_;
}

void LoaderEngine::Enter() { ++busyDepth_; }

void LoaderEngine::Leave() { --busyDepth_; }

TConnection &LoaderEngine::Current() {
    if (current_ == nullptr) throw xConnectionErr(EngineCode::NoConnection);
    return *current_;
}

// ---- connect ----

void LoaderEngine::Connect(platform::HWND owner, CommOptions options, uint8_t packetMode,
                           PassphraseCallback passphrase) {
    if (LogSwitches().EnableTcLogging != 0) OpenCommunicationLog();
    RaiseOnFailure(StageConnect(owner, options, packetMode, passphrase));
    InstallDiagnosticCallbacks();
}

int32_t LoaderEngine::StageConnect(platform::HWND owner, const CommOptions &options,
                                   uint8_t packetMode, const PassphraseCallback &passphrase) {
    // Whatever an earlier stage left behind, a connect starts from a quiet engine.
    busyDepth_ = 0;
    const int32_t code = RunStage([&] {
        BusyScope busy(*this);
        if (KeepsConnection(owner, options, packetMode)) return;
        if (options.UseTCP == 0)
            SerialConnect(owner, options, packetMode);
        else
            NetworkConnect(owner, options, packetMode, passphrase);
    });
    if (code != 0) return code;
    owner_ = owner;
    lastOptions_ = options;
    lastPacketMode_ = packetMode;
    return 0;
}

namespace {

template <size_t N> bool SameText(const char (&a)[N], const char (&b)[N]) {
    return std::strncmp(a, b, N) == 0;
}

bool SameNetworkTarget(const CommOptions &a, const CommOptions &b) {
    return SameText(a.NetworkAddress, b.NetworkAddress) && a.NetworkPort == b.NetworkPort &&
           SameText(a.NetworkName, b.NetworkName);
}

bool SameSerialLine(const CommOptions &a, const CommOptions &b) {
    return a.ComPort == b.ComPort && a.BaudRate == b.BaudRate && a.DtrControl == b.DtrControl &&
           a.RtsControl == b.RtsControl && a.StopBits == b.StopBits;
}

} // namespace

bool LoaderEngine::KeepsConnection(platform::HWND owner, const CommOptions &options,
                                   uint8_t packetMode) {
    if (owner != owner_ || options.UseTCP != lastOptions_.UseTCP) return false;
    if (current_ == nullptr || !current_->IsOpen()) return false;
    if (options.UseTCP != 0) {
        if (!SameNetworkTarget(options, lastOptions_)) return false;
        // A network connection switches between raw and packets in place.
        if (packetMode != lastPacketMode_) current_->SetMode(packetMode);
        return true;
    }
    return !portReconfigured_ && SameSerialLine(options, lastOptions_) &&
           packetMode == lastPacketMode_;
}

void LoaderEngine::SerialConnect(platform::HWND owner, const CommOptions &options,
                                 uint8_t packetMode) {
    // A kept connection still hooked to an earlier session's window would deliver this
    // session's replies to a window that may be gone: it is made anew for the new owner.
    if (serial_ != nullptr && serial_->Window() != owner) {
        if (current_ == serial_.get()) current_ = nullptr;
        serial_.reset();
    }
    if (serial_ == nullptr) serial_ = std::make_unique<TSerialConnection>(owner);
    serial_->SetCancelToken(&cancel_);
    current_ = serial_.get();
    serial_->SetSettings(options);
    // The options are applied in full now, whatever a stage did to the port before.
    portReconfigured_ = false;
    serial_->Open(packetMode);
}

void LoaderEngine::DropNetworkConnection() {
    if (current_ != nullptr && current_ == network_.get()) current_ = nullptr;
    corvixLink_ = nullptr;
    corvixSys_ = nullptr;
    network_.reset();
}

namespace {

constexpr uint8_t DbgExchange = 56;
// What the host asks in the exchange that follows the device's challenge.
constexpr uint8_t ExchangeRequest = 3;

} // namespace

void LoaderEngine::NetworkConnect(platform::HWND owner, const CommOptions &options,
                                  uint8_t packetMode, const PassphraseCallback &passphrase) {
    DropNetworkConnection();
    if (options.UseCorvixLink == 0) {
        // Without either kind there is nothing to connect to.
        if (options.UseCorvixSys == 0) throw xConnectionErr(EngineCode::NetworkUnavailable);
        ConsoleConnect(owner, options, packetMode, passphrase);
        return;
    }
    auto link = std::make_unique<TCorvixLinkConnection>(owner);
    link->SetCancelToken(&cancel_);
    corvixLink_ = link.get();
    network_ = std::move(link);
    current_ = network_.get();

    // The device speaks first, with its challenge: the handler must be in place before the
    // connection's reader can hand that packet over.
    deviceAuth_ = DeviceAuthentication{};
    deviceAuth_.connection = current_;
    // Whether the key was the empty passphrase's tells the user why a refusal came.
    if (passphrase)
        deviceAuth_.passphrase = [this, passphrase]() {
            const std::array<uint8_t, 16> key = passphrase();
            const platform::Md5Digest empty = platform::Md5(nullptr, 0);
            deviceAuth_.emptyPassphrase = std::equal(key.begin(), key.end(), empty.begin());
            return key;
        };
    current_->RegisterHandler(packet::TypeDbg, DbgChallenge, &DeviceAuthenticationHandler,
                              &deviceAuth_, true, false);
    current_->SetSettings(options);
    corvixLink_->Connect(packetMode);

    current_->SendAndWait(packet::TypeDbg, DbgChallenge, nullptr, 0, true);
    if (deviceAuth_.outcome == DeviceAuthOutcome::Refused)
        throw xConnectionErr(EngineCode::DeviceChallengeRefused,
                             current_->AboutTarget("the device's passphrase challenge could not "
                                                   "be answered"));

    current_->RegisterHandler(packet::TypeDbg, DbgExchange, nullptr, nullptr, true, true);
    uint8_t exchange[1] = {ExchangeRequest};
    bool dropped = false;
    try {
        SendRequest(packet::TypeDbg, DbgExchange, exchange, sizeof exchange, sizeof exchange);
    } catch (const xConnectionErr &error) {
        // Devices that do not know this exchange leave it unanswered or refuse it, and serve
        // the load all the same: whether it is answered decides nothing. The user's cancel or a
        // quit is not the device's answer, and a connection that can no longer be written or
        // read is another matter.
        if (error.InternalCode == ConnCode::Cancelled ||
            error.InternalCode == ConnCode::QuitDuringWait)
            throw;
        dropped = error.InternalCode == ConnCode::WriteFailed ||
                  error.InternalCode == ConnCode::ReaderNotRunning;
    }
    // A device that did not take our answer to its challenge (a wrong passphrase) drops the
    // connection at once. Carrying on would only fail later, at the first packet of the load,
    // with a message that says nothing about why.
    if (dropped || !current_->ReaderRunning())
        throw xConnectionErr(
            EngineCode::PassphraseRefused,
            current_->AboutTarget(deviceAuth_.emptyPassphrase
                                      ? "the device refused the passphrase: none was given "
                                        "(tarnwick-cli asks on the terminal, or reads "
                                        "TARNWICK_PASSPHRASE)"
                                      : "the device refused the passphrase"));
}

TCorvixSysConnection &LoaderEngine::NewConsoleConnection(platform::HWND owner,
                                                         const CommOptions &options) {
    DropNetworkConnection();
    auto console = std::make_unique<TCorvixSysConnection>(owner);
    console->SetCancelToken(&cancel_);
    if (consoleWaitMs_ != 0) console->SetConnectWait(consoleWaitMs_);
    corvixSys_ = console.get();
    network_ = std::move(console);
    current_ = network_.get();
    current_->SetSettings(options);
    return *corvixSys_;
}

void LoaderEngine::ConsoleConnect(platform::HWND owner, const CommOptions &options,
                                  uint8_t packetMode, const PassphraseCallback &passphrase) {
    TCorvixSysConnection &console = NewConsoleConnection(owner, options);
    // Registered as for any network connection, although the console itself never challenges:
    // a board behind it that did would find its answer in place.
    deviceAuth_ = DeviceAuthentication{};
    deviceAuth_.connection = current_;
    deviceAuth_.passphrase = passphrase;
    current_->RegisterHandler(packet::TypeDbg, DbgChallenge, &DeviceAuthenticationHandler,
                              &deviceAuth_, true, false);
    console.Connect(packetMode);
}

// ---- disconnect, cancel ----

void LoaderEngine::Disconnect() {
    const int32_t code = StageDisconnect();
    RaiseOnFailure(code);
    if (LogSwitches().EnableTcLogging != 0) CloseCommunicationLog();
}

int32_t LoaderEngine::StageDisconnect() {
    // A running stage still uses the connection further up this thread's stack: it is closed,
    // which makes that stage fail, but the object stays until the stage has returned.
    const bool deleteNow = busyDepth_ == 0;
    if (serial_ != nullptr) {
        serial_->Close();
        if (deleteNow) {
            if (current_ == serial_.get()) current_ = nullptr;
            serial_.reset();
        }
    }
    // Closed too when a serial connection was present, so that no device link outlives the load.
    if (network_ != nullptr) {
        network_->Close();
        if (deleteNow) DropNetworkConnection();
    }
    return deleteNow ? 0 : EngineCode::DisconnectWhileBusy;
}

void LoaderEngine::CancelTransfer() {
    if (busyDepth_ <= 0 && !sessionRunning_) return;
    cancel_.Cancel();
}

void LoaderEngine::StartSession() {
    cancel_.Clear();
    logStartedThisLoad_ = false;
    sessionRunning_ = true;
}

void LoaderEngine::EndSession() {
    sessionRunning_ = false;
    cancel_.Clear();
}

// ---- connection settings ----

int32_t LoaderEngine::GetRetryCount() {
    return current_ != nullptr ? current_->GetRetryCount() : 0;
}

void LoaderEngine::SetRetryCount(int32_t count) {
    if (current_ != nullptr) current_->SetRetryCount(count);
}

int32_t LoaderEngine::GetResponseTimeout() {
    return current_ != nullptr ? current_->GetResponseTimeout() : 0;
}

void LoaderEngine::SetResponseTimeout(int32_t ms) {
    if (current_ != nullptr) current_->SetResponseTimeout(ms);
}

uint8_t LoaderEngine::GetConnectionMode() const {
    return current_ != nullptr ? current_->Mode() : ConnMode::NotStarted;
}

// ---- packet kinds ----

void LoaderEngine::RegisterPacketKinds() {
    for (const PacketKind &kind : EnginePacketKinds())
        RegisterPacketKind(kind.type, kind.subtype, kind.handler, nullptr, kind.waits ? 1 : 0,
                           kind.copy ? 1 : 0);
}

int32_t LoaderEngine::RegisterPacketKind(uint8_t type, uint8_t subtype, PacketHandler handler,
                                         void *context, uint8_t waits, uint8_t copy) {
    if (current_ != nullptr)
        current_->RegisterHandler(type, subtype, handler, context, waits != 0, copy != 0);
    return 0;
}

HandlerEntry LoaderEngine::GetPacketKind(uint8_t type, uint8_t subtype) {
    return current_ != nullptr ? current_->CopyHandlerEntry(type, subtype) : HandlerEntry{};
}

// ---- diagnostics and the communication log ----

void LoaderEngine::InstallDiagnosticCallbacks() {
    if (current_ == nullptr) return;
    InstallLogHooks();
}

void LoaderEngine::OpenCommunicationLog() {
    commlog::OpenLog(logStartedThisLoad_ ? commlog::LogStart::Append
                                         : commlog::LogStart::CreateAnew);
    logStartedThisLoad_ = true;
    // Hooked before the connect stage too, so that the log shows the first port opening of
    // the process and not only those after it.
    InstallLogHooks();
}

void LoaderEngine::CloseCommunicationLog() { commlog::CloseLog(); }

void LoaderEngine::InstallLogHooks() { commlog::InstallLogHooks(); }

// ---- the board's own operating system ----

bool LoaderEngine::ProbeTarget() {
    // Without a connection nobody can have answered.
    if (current_ == nullptr) return false;
    uint8_t reply[8] = {};
    return StageSysRequest(11, reply, 0, sizeof reply) == 0;
}

void LoaderEngine::RunUserProgram() {
    uint8_t reply[8] = {};
    RaiseOnFailure(StageSysRequest(12, reply, 0, sizeof reply));
}

int32_t LoaderEngine::StageSysRequest(uint8_t subtype, uint8_t *payload, uint32_t length,
                                      size_t capacity) {
    return StageRequest(packet::TypeSys, subtype, payload, length, capacity);
}

int32_t LoaderEngine::StageRequest(uint8_t type, uint8_t subtype, uint8_t *payload, uint32_t length,
                                   size_t capacity) {
    return RunStage([&] {
        BusyScope busy(*this);
        if (current_ == nullptr) return;
        SendRequest(type, subtype, payload, length, capacity);
        // A Disconnect from a handler dispatched during the wait closes the connection, which
        // ends the wait as if it had been answered: the request was not.
        if (!current_->IsOpen()) throw xConnectionErr(EngineCode::DisconnectWhileBusy);
    });
}

namespace {

// A copy entry keeps pointing at the requester's buffer after Send returns. A reply that comes
// late (after a time-out, a resend's second answer, or to a kind that does not wait) would then
// be copied into a buffer that is gone; detaching it drops such a reply instead.
class ReplyBufferDetach {
public:
    ReplyBufferDetach(TConnection &connection, uint8_t type, uint8_t subtype)
        : connection_(connection), type_(type), subtype_(subtype) {}
    ~ReplyBufferDetach() {
        const bool copy = connection_.CopyHandlerEntry(type_, subtype_).copyReply;
        connection_.SetReplyBuffer(type_, subtype_, copy, nullptr, 0);
    }
    ReplyBufferDetach(const ReplyBufferDetach &) = delete;
    ReplyBufferDetach &operator=(const ReplyBufferDetach &) = delete;

private:
    TConnection &connection_;
    uint8_t type_;
    uint8_t subtype_;
};

// The device's packets go out once: it answers each itself, and a resend would reach it as a
// second upload. The retry count is given back on every path.
class NoRetries {
public:
    explicit NoRetries(TConnection &connection)
        : connection_(connection), saved_(connection.GetRetryCount()) {
        connection_.SetRetryCount(0);
    }
    ~NoRetries() { connection_.SetRetryCount(saved_); }
    NoRetries(const NoRetries &) = delete;
    NoRetries &operator=(const NoRetries &) = delete;

private:
    TConnection &connection_;
    int32_t saved_;
};

} // namespace

void LoaderEngine::SendRequest(uint8_t type, uint8_t subtype, uint8_t *payload, uint32_t length,
                               size_t capacity) {
    TConnection &connection = Current();
    ReplyBufferDetach detach(connection, type, subtype);
    connection.Send(type, subtype, payload, length, capacity);
}

void LoaderEngine::SendWithoutRetries(uint8_t type, uint8_t subtype, uint8_t *payload,
                                      uint32_t length) {
    if (current_ == nullptr) return;
    NoRetries noRetries(*current_);
    SendRequest(type, subtype, payload, length, length);
}

// ---- pauses ----

void LoaderEngine::Pause(uint32_t ms) {
    const int32_t code = RunStage([&] {
        BusyScope busy(*this);
        platform::WaitSpec spec;
        spec.timeoutMs = ms;
        spec.cancel = &cancel_;
        // Only the cancel matters; a quit is posted again for the loop that owns the thread.
        if (platform::PumpUntil(spec) == platform::WaitEnd::Cancelled)
            throw xConnectionErr(ConnCode::Cancelled);
    });
    RaiseOnFailure(code);
}

// ---- starting the stored program through the console ----

void LoaderEngine::RunProgram() { RaiseOnFailure(StageRunProgram()); }

int32_t LoaderEngine::StageRunProgram() {
    return RunStage([&] {
        BusyScope busy(*this);
        // The start is a console session of its own: whatever connection is held goes first
        // (its console session with it), and the new one speaks with the options of the last
        // connect, on the same window.
        if (serial_ != nullptr) {
            serial_->Close();
            if (current_ == serial_.get()) current_ = nullptr;
            serial_.reset();
        }
        if (network_ != nullptr) network_->Close();
        NewConsoleConnection(owner_, lastOptions_).RunProgram();
    });
}
