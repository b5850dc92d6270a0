// The loader engine's entry points as the load session sees them. The session talks to the
// board only through this interface, so that its exact sequence of engine calls can be recorded
// and checked, and so that the desktop program and tarnwick-cli drive the very same engine.
//
// Every operation raises TargetCommException (loader/LoaderErrors.h) with a LoaderError code on
// failure unless its comment gives a result instead.
#pragma once

#include "platform/Messages.h"
#include "comm/CommOptions.h"
#include "comm/PassphraseCallback.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// Windowed network download: asked before each block; always answering true sends them all.
using NetworkContinueCallback = std::function<bool(uint32_t offset, uint32_t blockSize)>;
// Windowed network download: "%d of %d packets sent" / "%d of %d packets acknowledged".
using NetworkStatusCallback = std::function<void(std::string_view message)>;

// What SYS/INFOPROBE returns.
struct IdBlockInfo {
    static constexpr int IdBlockSize = 163;
    uint8_t IdBlock[IdBlockSize] = {};
    uint16_t ProductId = 0; // ID block bytes 2-3
    uint32_t Value0 = 0;    // reply offset 0
    uint16_t FlashId = 0;   // reply offset 4
    uint8_t Byte6 = 0;      // reply offset 6
    uint8_t Byte7 = 0;      // reply offset 7
    uint16_t Value8 = 0;    // reply offset 8
};

class LoaderEngineApi {
public:
    virtual ~LoaderEngineApi() = default;

    virtual void Connect(platform::HWND owner, CommOptions options, uint8_t packetMode,
                         PassphraseCallback passphrase) = 0;
    virtual void RegisterPacketKinds() = 0;
    virtual void InstallDiagnosticCallbacks() = 0;
    virtual void Disconnect() = 0;
    virtual void CancelTransfer() = 0;
    // A load session begins: the cancel request of the last one is forgotten. The one place
    // the request is cleared; the session calls it before anything else.
    virtual void StartSession() {}
    // The session has ended: a Cancel from now on has nothing to end.
    virtual void EndSession() {}

    virtual int32_t GetRetryCount() = 0; // 0 without a connection
    virtual void SetRetryCount(int32_t count) = 0;
    virtual int32_t GetResponseTimeout() = 0; // 0 without a connection
    virtual void SetResponseTimeout(int32_t ms) = 0;

    virtual bool SendColdLoader(const std::string &path, int32_t baudRate) = 0;
    virtual void SendPilotBios(const std::string &path, int32_t baudRate) = 0;
    // True when the pilot BIOS accepted the rate, false when it refused.
    virtual bool SetTargetBaudRate(int32_t baudRate) = 0;
    virtual void ReadIdBlock(IdBlockInfo &info) = 0;
    virtual void SetFlashParameters(uint16_t flashSize, uint16_t sectorSize, uint16_t sectorCount,
                                    uint16_t writeMode) = 0;
    virtual void EraseFlash(uint32_t value) = 0;
    virtual void WriteBlock(uint32_t physicalAddress, uint16_t length, const uint8_t *data) = 0;
    virtual void StartBios(uint8_t where) = 0;

    virtual void NetworkDownload(const std::string &fileName, const std::string &extension,
                                 uint32_t startOffset, int32_t imageBytes,
                                 NetworkContinueCallback proceed, uint32_t blockSize,
                                 uint32_t flags, NetworkStatusCallback status) = 0;
    virtual void EndNetworkDownload() = 0;

    // True when the board's own operating system answered; never raises.
    virtual bool ProbeTarget() = 0;
    virtual void ResetTarget(int32_t baudRate) = 0;
    virtual void SendEndTriplet() = 0;
    virtual void RunUserProgram() = 0;
    virtual void RunProgram() = 0;
    // A settle pause of ms milliseconds that lets messages through and ends the load (20) when
    // it is cancelled.
    virtual void Pause(uint32_t ms) = 0;
};

// The engine of the process (the real one in loader/LoaderEngine.cpp).
LoaderEngineApi &TheLoaderEngine();

// The USB-to-serial converter option of the process's engine. With flag set, the pilot BIOS
// upload waits delayMs after reconfiguring the serial port and before reopening it, because such
// converters drop their line settings for a moment while they re-enumerate. The settings store
// hands it over after loading and reads it back at exit. Defaults until set: flag 0, delay
// 2000 ms. UI thread only.
void SetUsbSerialDelay(uint8_t flag, int32_t delayMs);
void GetUsbSerialDelay(uint8_t &flag, int32_t &delayMs);
