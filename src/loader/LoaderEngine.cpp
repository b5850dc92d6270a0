#include "loader/LoaderEngine.h"

#include "comm/CommLogSwitches.h"
#include "comm/PacketCodec.h"
#include "loader/LoaderErrors.h"
#include "loader/LoaderStage.h"
#include "loader/PacketKinds.h"

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

void LoaderEngine::Enter() {
    ++busyDepth_;
    if (current_ != nullptr)
        current_->ClearCancel();
}

void LoaderEngine::Leave() { --busyDepth_; }

TConnection &LoaderEngine::Current() {
    if (current_ == nullptr)
        throw xConnectionErr(EngineCode::NoConnection);
    return *current_;
}

// ---- connect ----

void LoaderEngine::Connect(platform::HWND owner, CommOptions options, uint8_t packetMode,
                           PassphraseCallback passphrase) {
    if (LogSwitches().EnableTcLogging != 0)
        OpenCommunicationLog();
    RaiseOnFailure(StageConnect(owner, options, packetMode, passphrase));
    InstallDiagnosticCallbacks();
}

int32_t LoaderEngine::StageConnect(platform::HWND owner, const CommOptions &options,
                                   uint8_t packetMode, const PassphraseCallback &passphrase) {
    // Whatever an earlier stage left behind, a connect starts from a quiet engine.
    busyDepth_ = 0;
    cancel_ = false;
    const int32_t code = RunStage([&] {
        BusyScope busy(*this);
        if (KeepsConnection(owner, options, packetMode))
            return;
        if (options.UseTCP == 0)
            SerialConnect(owner, options, packetMode);
        else
            NetworkConnect(owner, options, packetMode, passphrase);
    });
    if (code != 0)
        return code;
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
    if (owner != owner_ || options.UseTCP != lastOptions_.UseTCP)
        return false;
    if (current_ == nullptr || !current_->IsOpen())
        return false;
    if (options.UseTCP != 0) {
        if (!SameNetworkTarget(options, lastOptions_))
            return false;
        // A network connection switches between raw and packets in place.
        if (packetMode != lastPacketMode_)
            current_->SetMode(packetMode);
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
        if (current_ == serial_.get())
            current_ = nullptr;
        serial_.reset();
    }
    if (serial_ == nullptr)
        serial_ = std::make_unique<TSerialConnection>(owner);
    current_ = serial_.get();
    serial_->SetSettings(options);
    // The options are applied in full now, whatever a stage did to the port before.
    portReconfigured_ = false;
    serial_->Open(packetMode);
}

void LoaderEngine::DropNetworkConnection() {
    if (current_ != nullptr && current_ == network_.get())
        current_ = nullptr;
    corvixLink_ = nullptr;
    corvixSys_ = nullptr;
    network_.reset();
}

// NETWORK SEAM: the CorvixLink and CorvixSys connection kinds are not built yet. When they are,
// this creates the kind the options ask for (CorvixLink first), makes it current, registers the
// device authentication handler (1, 63) with the passphrase callback as its context, applies the
// options and runs the kind's own Connect(packetMode); for CorvixLink it then waits for the
// authentication packet and sends the (1, 56) request with the byte 3, ignoring its failure.
void LoaderEngine::NetworkConnect(platform::HWND, const CommOptions &options, uint8_t,
                                  const PassphraseCallback &) {
    DropNetworkConnection();
    if (options.UseCorvixLink != 0)
        ShowError("CorvixLink connections are not available in this version");
    else if (options.UseCorvixSys != 0)
        ShowError("CorvixSys console connections are not available in this version");
    // Without either kind there is nothing to connect to.
    throw xConnectionErr(EngineCode::NetworkUnavailable);
}

// ---- disconnect, cancel ----

void LoaderEngine::Disconnect() {
    const int32_t code = StageDisconnect();
    RaiseOnFailure(code);
    if (LogSwitches().EnableTcLogging != 0)
        CloseCommunicationLog();
}

int32_t LoaderEngine::StageDisconnect() {
    // A running stage still uses the connection further up this thread's stack: it is closed,
    // which makes that stage fail, but the object stays until the stage has returned.
    const bool deleteNow = busyDepth_ == 0;
    if (serial_ != nullptr) {
        serial_->Close();
        if (deleteNow) {
            if (current_ == serial_.get())
                current_ = nullptr;
            serial_.reset();
        }
    }
    // Closed too when a serial connection was present, so that no device link outlives the load.
    if (network_ != nullptr) {
        network_->Close();
        if (deleteNow)
            DropNetworkConnection();
    }
    return deleteNow ? 0 : EngineCode::DisconnectWhileBusy;
}

void LoaderEngine::CancelTransfer() {
    if (current_ == nullptr || busyDepth_ <= 0)
        return;
    current_->Cancel();
    cancel_ = true;
}

// ---- connection settings ----

int32_t LoaderEngine::GetRetryCount() { return current_ != nullptr ? current_->GetRetryCount() : 0; }

void LoaderEngine::SetRetryCount(int32_t count) {
    if (current_ != nullptr)
        current_->SetRetryCount(count);
}

int32_t LoaderEngine::GetResponseTimeout() {
    return current_ != nullptr ? current_->GetResponseTimeout() : 0;
}

void LoaderEngine::SetResponseTimeout(int32_t ms) {
    if (current_ != nullptr)
        current_->SetResponseTimeout(ms);
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
    if (current_ == nullptr)
        return;
    InstallLogHooks();
}

// LOG SEAM: until the communication log unit exists there is no file to open or close and no
// writer to hook; the connection layer calls its hooks only when they are set, so leaving them
// unset is the "logging off" state.
void LoaderEngine::OpenCommunicationLog() {}
void LoaderEngine::CloseCommunicationLog() {}
void LoaderEngine::InstallLogHooks() {}

// ---- the board's own operating system ----

bool LoaderEngine::ProbeTarget() {
    // Without a connection nobody can have answered.
    if (current_ == nullptr)
        return false;
    uint8_t reply[8] = {};
    return StageSysRequest(11, reply, 0, sizeof reply) == 0;
}

void LoaderEngine::RunUserProgram() {
    uint8_t reply[8] = {};
    RaiseOnFailure(StageSysRequest(12, reply, 0, sizeof reply));
}

int32_t LoaderEngine::StageSysRequest(uint8_t subtype, uint8_t *payload, uint32_t length,
                                      size_t capacity) {
    return RunStage([&] {
        BusyScope busy(*this);
        if (current_ == nullptr)
            return;
        current_->Send(packet::TypeSys, subtype, payload, length, capacity);
        // A Disconnect from a handler dispatched during the wait closes the connection, which
        // ends the wait as if it had been answered: the request was not.
        if (!current_->IsOpen())
            throw xConnectionErr(EngineCode::DisconnectWhileBusy);
    });
}

// ---- not in this version ----

namespace {

[[noreturn]] void RaiseNotAvailable(const char *what) {
    ShowError(std::string(what) + " is not available in this version");
    throw TargetCommException(LoaderErrorCommunication);
}

} // namespace

// NETWORK SEAM: the windowed download through the network programming device.
void LoaderEngine::NetworkDownload(const std::string &, const std::string &, uint32_t, int32_t,
                                   NetworkContinueCallback, uint32_t, uint32_t,
                                   NetworkStatusCallback) {
    RaiseNotAvailable("Download through a CorvixLink device");
}

// NETWORK SEAM: the start request (1, 55, byte 4) that ends a network download.
void LoaderEngine::EndNetworkDownload() {
    RaiseNotAvailable("Download through a CorvixLink device");
}

// NETWORK SEAM: the console's "app go" over a CorvixSys console connection.
void LoaderEngine::RunProgram() { RaiseNotAvailable("Starting a program through the CorvixSys console"); }
