// An engine that passes every call on to another: the base for tools that watch a load (a
// benchmark timing the program's blocks, a test recording the session's calls) while the real
// engine does the work.
#pragma once

#include "loader/LoaderEngineApi.h"

#include <utility>

class ForwardingEngine : public LoaderEngineApi {
public:
    explicit ForwardingEngine(LoaderEngineApi &inner) : inner_(inner) {}

    void Connect(platform::HWND owner, CommOptions options, uint8_t packetMode,
                 PassphraseCallback passphrase) override {
        inner_.Connect(owner, options, packetMode, std::move(passphrase));
    }
    void RegisterPacketKinds() override { inner_.RegisterPacketKinds(); }
    void InstallDiagnosticCallbacks() override { inner_.InstallDiagnosticCallbacks(); }
    void Disconnect() override { inner_.Disconnect(); }
    void CancelTransfer() override { inner_.CancelTransfer(); }
    void StartSession() override { inner_.StartSession(); }
    void EndSession() override { inner_.EndSession(); }
    int32_t GetRetryCount() override { return inner_.GetRetryCount(); }
    void SetRetryCount(int32_t count) override { inner_.SetRetryCount(count); }
    int32_t GetResponseTimeout() override { return inner_.GetResponseTimeout(); }
    void SetResponseTimeout(int32_t ms) override { inner_.SetResponseTimeout(ms); }
    bool SendColdLoader(const std::string &path, int32_t baudRate) override {
        return inner_.SendColdLoader(path, baudRate);
    }
    void SendPilotBios(const std::string &path, int32_t baudRate) override {
        inner_.SendPilotBios(path, baudRate);
    }
    bool SetTargetBaudRate(int32_t baudRate) override { return inner_.SetTargetBaudRate(baudRate); }
    void ReadIdBlock(IdBlockInfo &info) override { inner_.ReadIdBlock(info); }
    void SetFlashParameters(uint16_t flashSize, uint16_t sectorSize, uint16_t sectorCount,
                            uint16_t writeMode) override {
        inner_.SetFlashParameters(flashSize, sectorSize, sectorCount, writeMode);
    }
    void EraseFlash(uint32_t value) override { inner_.EraseFlash(value); }
    void WriteBlock(uint32_t physicalAddress, uint16_t length, const uint8_t *data) override {
        inner_.WriteBlock(physicalAddress, length, data);
    }
    void StartBios(uint8_t where) override { inner_.StartBios(where); }
    void NetworkDownload(const std::string &fileName, const std::string &extension,
                         uint32_t startOffset, int32_t imageBytes, NetworkContinueCallback proceed,
                         uint32_t blockSize, uint32_t flags,
                         NetworkStatusCallback status) override {
        inner_.NetworkDownload(fileName, extension, startOffset, imageBytes, std::move(proceed),
                               blockSize, flags, std::move(status));
    }
    void EndNetworkDownload() override { inner_.EndNetworkDownload(); }
    bool ProbeTarget() override { return inner_.ProbeTarget(); }
    void ResetTarget(int32_t baudRate) override { inner_.ResetTarget(baudRate); }
    void SendEndTriplet() override { inner_.SendEndTriplet(); }
    void RunUserProgram() override { inner_.RunUserProgram(); }
    void RunProgram() override { inner_.RunProgram(); }
    void Pause(uint32_t ms) override { inner_.Pause(ms); }

protected:
    LoaderEngineApi &inner_;
};
