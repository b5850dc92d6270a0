// The loader engine: the one current connection to the board, its reconnect rule, and the
// bootstrap stages behind the entry points of LoaderEngineApi.
//
// Two layers. A stage runs one operation against the current connection, catches
// xConnectionErr and returns its internal code (0 for success); it never raises to its caller.
// An entry point calls its stage and hands a non-zero code to RaiseLoaderError, which raises
// TargetCommException with the user-facing LoaderError. Only xConnectionErr is caught: any other
// exception passes through unchanged.
//
// Threads: every entry point runs on the user-interface thread. The waits inside the connection
// pump that thread's messages, so CancelTransfer and Disconnect may be called from a handler
// while a stage is still running; the busy depth tells them so.
#pragma once

#include "comm/DeviceAuthentication.h"
#include "comm/TConnection.h"
#include "comm/TSerialConnection.h"
#include "loader/LoaderEngineApi.h"
#include "loader/LoaderErrors.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// Network connection kinds, built on TConnection; the engine only keeps typed aliases of them.
class TCorvixLinkConnection;
class TCorvixSysConnection;

// Internal codes the engine raises itself (the support-file readers' codes are in
// LoaderErrors.h). Those without an entry in the error table become LoaderError 22.
namespace EngineCode {
inline constexpr int32_t NetworkFileNotOpened = 4003;
inline constexpr int32_t DisconnectWhileBusy = 4004;
inline constexpr int32_t NoProcessor = 5000;
// The pilot BIOS upload was not acknowledged: wrong echo, wrong checksum, or the payload or its
// checksum could not be carried.
inline constexpr int32_t PilotBiosNotAcknowledged = 6008;
// A stage that must talk to the board found no current connection.
inline constexpr int32_t NoConnection = 4200;
// The options ask for a network connection this version cannot make.
inline constexpr int32_t NetworkUnavailable = 4201;
// The network device opened with a challenge we cannot answer.
inline constexpr int32_t DeviceChallengeRefused = 4202;
// The device dropped the connection after our answer to its challenge: a wrong passphrase.
inline constexpr int32_t PassphraseRefused = PassphraseRefusedCode;
// The image file ended before the byte count of a network download was read.
inline constexpr int32_t NetworkFileShort = 4203;
// A network download asked for a packet size the packet layer cannot carry.
inline constexpr int32_t NetworkBlockSizeInvalid = 4204;
} // namespace EngineCode

class LoaderEngine : public LoaderEngineApi {
public:
    LoaderEngine();
    ~LoaderEngine() override;
    LoaderEngine(const LoaderEngine &) = delete;
    LoaderEngine &operator=(const LoaderEngine &) = delete;

    // Opens (or keeps, by the reconnect rule) the connection for owner with options, in packet
    // mode 0 (raw bytes) or 1 (packets), then installs the diagnostic callbacks. A network
    // connect goes through a CorvixLink device and answers its challenge with passphrase's key.
    // Raises 19/18 when the serial port cannot be opened or set up; 22 when the device cannot be
    // reached, refuses us or closes the connection, and for "UseTCP" with neither kind; 17 when
    // the device does not answer; 30-45 for the CorvixSys console's failures; 20 cancelled.
    void Connect(platform::HWND owner, CommOptions options, uint8_t packetMode,
                 PassphraseCallback passphrase) override;
    // Registers the engine's packet kinds on the current connection (nothing without one).
    void RegisterPacketKinds() override;
    // Installs the connection layer's process-wide log hooks while a connection exists.
    void InstallDiagnosticCallbacks() override;
    // Closes the connection; deletes it unless a stage is running, which raises 22 and leaves
    // the closed connection object in place.
    void Disconnect() override;
    // Makes the running stage fail with 20 (every wait sees the session's cancel token); does
    // nothing when no stage runs, so a click between two engine calls is ignored.
    void CancelTransfer() override;
    void StartSession() override;
    void EndSession() override;
    // The load session's cancel token, which every connection of this engine watches.
    platform::CancelToken &CancelRequest() { return cancel_; }

    int32_t GetRetryCount() override;
    void SetRetryCount(int32_t count) override;
    int32_t GetResponseTimeout() override;
    void SetResponseTimeout(int32_t ms) override;

    // Resets the board into its bootstrap mode and feeds it the cold loader at path. Raises 8
    // (file cannot be opened), 51 (no end triplet: not a cold loader), 7 (processor detection
    // on and DSR did not change), 20 (cancelled). Through a network device the whole file goes
    // in one packet: 22 when it cannot be opened or is longer than 16382 bytes. Returns true.
    bool SendColdLoader(const std::string &path, int32_t baudRate) override;
    // Uploads the pilot BIOS at path in raw mode at baudRate. Raises 9 (file unusable), 52 (too
    // long for the header), 23 (echo or checksum wrong, or the payload could not be sent), 22
    // after "Error reading bytes" (no echo at all), 20 (cancelled). Through a network device:
    // the header packet, then the whole record from the marker on; 22 when the file cannot be
    // opened, the record exceeds a packet, or the device refuses either; 17 unanswered.
    void SendPilotBios(const std::string &path, int32_t baudRate) override;
    // The upload length of an open pilot BIOS file, leaving it just after the marker. Raises 9
    // for a null file or one without a marker, 52 when the length does not fit 16 bits.
    void GetPilotBiosLength(std::FILE *file, uint16_t &length);
    bool SetTargetBaudRate(int32_t baudRate) override;
    // Short replies leave the missing fields zero: nothing of an earlier reply is ever returned.
    void ReadIdBlock(IdBlockInfo &info) override;
    void SetFlashParameters(uint16_t flashSize, uint16_t sectorSize, uint16_t sectorCount,
                            uint16_t writeMode) override;
    void EraseFlash(uint32_t value) override;
    void WriteBlock(uint32_t physicalAddress, uint16_t length, const uint8_t *data) override;
    void StartBios(uint8_t where) override;

    // The windowed download through the network device: the image (fileName with its extension
    // made extension) from file offset fileOffset, imageBytes bytes, in SYS/WRITE packets of
    // blockSize bytes to ImageBase + startOffset on, sent without waiting; then waits for their
    // acknowledgements, up to the sent count times "Ethernet Response Timeout". proceed says
    // which packets go (one that answers false is read but neither sent nor counted); status
    // gets "%d of %d packets sent" / "%d of %d packets acknowledged". Raises 22 (file cannot be
    // opened or is short, a refused write), 17 (not all acknowledged in time), 20 (cancelled).
    void NetworkDownload(const std::string &fileName, const std::string &extension,
                         uint32_t startOffset, int32_t imageBytes, NetworkContinueCallback proceed,
                         uint32_t blockSize, uint32_t fileOffset,
                         NetworkStatusCallback status) override;
    // Asks the network device to start what it was sent (DBG 55 with the byte 4) and waits for
    // its answer. Raises like any request (17, 20, 22).
    void EndNetworkDownload() override;
    // Closes and deletes the connection held, then logs in on the CorvixSys console of the last
    // connect's options, on the same window, and starts the stored program ("app go"). Raises
    // 30-50 for the console's failures, 20 when cancelled.
    void RunProgram() override;
    // Pauses ms milliseconds, letting messages through; raises 20 when the load is cancelled.
    void Pause(uint32_t ms) override;
    // Bounds the CorvixSys console's connect and login waits (0: the connection's own 60 s).
    void SetConsoleWait(uint32_t ms) { consoleWaitMs_ = ms; }

    // Discovery of network devices, on the process's discovery object (discovery/Discovery.h):
    // each raises 22 for any failure of the round's sockets.
    void StartDiscovery(uint16_t port);
    // True with the five texts filled when a reply was taken; false with them untouched.
    bool PollDiscovery(std::string &name, std::string &ip, std::string &port, std::string &status,
                       std::string &mac);
    void StopDiscovery();

    bool ProbeTarget() override;
    // The DTR reset pulse at baudRate; the port is left in raw mode, DTR off, RTS on.
    void ResetTarget(int32_t baudRate) override;
    // One raw byte on the current connection, letting one pending window message through.
    void SendBootstrapByte(uint8_t byte);
    void SendEndTriplet() override;
    void RunUserProgram() override;

    // The current connection's RegisterHandler; does nothing without one. Returns 0.
    int32_t RegisterPacketKind(uint8_t type, uint8_t subtype, PacketHandler handler, void *context,
                               uint8_t waits, uint8_t copy);
    // The current connection's registration of (type, subtype); all zero without one.
    HandlerEntry GetPacketKind(uint8_t type, uint8_t subtype);
    // 0 raw, 1 packets, 2 when there is no current connection.
    uint8_t GetConnectionMode() const;

    // The USB-to-serial converter option (see SetUsbSerialDelay below).
    void SetUsbSerialDelay(uint8_t flag, int32_t delayMs);
    void GetUsbSerialDelay(uint8_t &flag, int32_t &delayMs) const;

    // The connection every stage talks to, for diagnostics; null when there is none.
    const TConnection *CurrentConnection() const { return current_; }

private:
    class BusyScope;
    // Runs body and returns 0, or the internal code of the xConnectionErr it raised, keeping
    // that failure's detail for RaiseOnFailure. Every other exception passes through.
    template <typename Body> int32_t RunStage(Body &&body);
    // The entry points' half: a non-zero code becomes TargetCommException with the detail of
    // the stage that failed (or nothing, for the codes that are not failures at this level).
    void RaiseOnFailure(int32_t internalCode) const;

    // Stages: each returns 0 or the internal code of its failure.
    int32_t StageConnect(platform::HWND owner, const CommOptions &options, uint8_t packetMode,
                         const PassphraseCallback &passphrase);
    int32_t StageDisconnect();
    int32_t StageRunProgram();
    int32_t StageSendColdLoader(const std::string &path, int32_t baudRate);
    int32_t StageSendPilotBios(const std::string &path, int32_t baudRate);
    int32_t StageSysRequest(uint8_t subtype, uint8_t *payload, uint32_t length, size_t capacity);
    int32_t StageRequest(uint8_t type, uint8_t subtype, uint8_t *payload, uint32_t length,
                         size_t capacity);
    int32_t StageNetworkDownload(const std::string &path, uint32_t startOffset, int32_t imageBytes,
                                 const NetworkContinueCallback &proceed, uint32_t blockSize,
                                 uint32_t fileOffset, const NetworkStatusCallback &status);

    // Steps, raising xConnectionErr.
    bool KeepsConnection(platform::HWND owner, const CommOptions &options, uint8_t packetMode);
    void SerialConnect(platform::HWND owner, const CommOptions &options, uint8_t packetMode);
    void NetworkConnect(platform::HWND owner, const CommOptions &options, uint8_t packetMode,
                        const PassphraseCallback &passphrase);
    void ConsoleConnect(platform::HWND owner, const CommOptions &options, uint8_t packetMode,
                        const PassphraseCallback &passphrase);
    // Replaces the network connection with a new console connection (settings given, not
    // connected) and makes it current.
    TCorvixSysConnection &NewConsoleConnection(platform::HWND owner, const CommOptions &options);
    void DropNetworkConnection();
    void ResetPulse(int32_t baudRate);
    void SendRawByte(uint8_t byte);
    void SendTriplet(const uint8_t *triplet);
    void SendColdLoaderSerial(const std::string &path, int32_t baudRate);
    void SendColdLoaderNetwork(const std::string &path);
    void SendPilotBiosSerial(const std::string &path, int32_t baudRate);
    void SendPilotBiosNetwork(const std::string &path, int32_t baudRate);
    // The current connection's Send, leaving no reply buffer behind for a late reply.
    void SendRequest(uint8_t type, uint8_t subtype, uint8_t *payload, uint32_t length,
                     size_t capacity);
    // Sends one device packet with the retry count at 0 (restored on every path); nothing
    // without a connection.
    void SendWithoutRetries(uint8_t type, uint8_t subtype, uint8_t *payload, uint32_t length);
    // The windowed download's two halves: the packets go out (returns how many were sent), then
    // their acknowledgements are collected.
    uint32_t SendDownloadPackets(std::FILE *file, uint32_t startOffset, uint32_t byteCount,
                                 const NetworkContinueCallback &proceed, uint32_t blockSize,
                                 const NetworkStatusCallback &status);
    void CollectAcknowledgements(uint32_t sent, const NetworkStatusCallback &status);
    // True once a refusal of a write has been seen since the download began.
    bool WriteRefused();
    static void CountWriteReply(const uint8_t *payload, uint16_t length, void *context);
    void ReconfigureSerial(const CommOptions &settings, bool usbPause);
    TConnection &Current();

    void Enter();
    void Leave();

    // Communication log seams: the log itself comes with the communication log unit.
    void OpenCommunicationLog();
    void CloseCommunicationLog();
    void InstallLogHooks();

    // The device authentication handler's context. Declared before the connections: it must
    // outlive every network connection, whose handler table points at it.
    DeviceAuthentication deviceAuth_;
    std::unique_ptr<TSerialConnection> serial_;
    // The one network connection (a TEthernetConnection kind) and its typed aliases, of which
    // only the one matching its kind is set.
    std::unique_ptr<TConnection> network_;
    TCorvixLinkConnection *corvixLink_ = nullptr;
    TCorvixSysConnection *corvixSys_ = nullptr;
    TConnection *current_ = nullptr;

    platform::HWND owner_ = nullptr;
    CommOptions lastOptions_{};
    uint8_t lastPacketMode_ = 0;
    // Set when a stage reconfigured the serial port behind the remembered options (the reset
    // pulse, the pilot BIOS upload): the next Connect must then apply its options again.
    bool portReconfigured_ = false;
    platform::CancelToken cancel_;
    int32_t busyDepth_ = 0;
    // The detail of the last stage that failed, read when its code is raised to the user.
    std::string stageFailureDetail_;
    // Set once this load has created its communication log: a later connect of the same load
    // (after a disconnect in between) adds to it instead of emptying it.
    bool logStartedThisLoad_ = false;
    // Between StartSession and EndSession a Cancel counts even while no stage runs: a click the
    // session's own pump handles between two blocks ends the load at its next wait.
    bool sessionRunning_ = false;
    std::vector<uint8_t> writeBlockPayload_;
    // Windowed download state, for the length of one download (UI thread only: the handler runs
    // there too).
    uint32_t acknowledged_ = 0;
    bool writeRefused_ = false;
    uint32_t consoleWaitMs_ = 0;
    uint8_t usbSerialFlag_ = 0;
    int32_t usbSerialDelayMs_ = 2000;
};

// The engine of the process, as TheLoaderEngine() returns it.
LoaderEngine &ProcessLoaderEngine();
