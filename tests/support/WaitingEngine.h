// A loader engine for form tests that plays a board answering at once: every WriteBlock waits
// in a message loop (as the real engine does while a request is out) until the board "answers"
// after a few loop turns, or until Cancel arrives.
#pragma once

#include "loader/LoaderEngineApi.h"
#include "loader/LoaderErrors.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>
#include <string>

class WaitingEngine : public LoaderEngineApi {
public:
    bool cancelled = false;
    bool waitForCancel = false;
    int writes = 0;
    int startBios = 0;
    std::function<void()> whileWaiting; // called once, in the first wait
    std::string failureDetail;          // not empty: the first write times out with this detail

    void Connect(platform::HWND, CommOptions, uint8_t, PassphraseCallback) override {}
    void RegisterPacketKinds() override {}
    void InstallDiagnosticCallbacks() override {}
    void Disconnect() override {}
    void CancelTransfer() override { cancelled = true; }
    int32_t GetRetryCount() override { return 10; }
    void SetRetryCount(int32_t) override {}
    int32_t GetResponseTimeout() override { return 200; }
    void SetResponseTimeout(int32_t) override {}
    bool SendColdLoader(const std::string &, int32_t) override { return true; }
    void SendPilotBios(const std::string &, int32_t) override {}
    bool SetTargetBaudRate(int32_t) override { return true; }
    void ReadIdBlock(IdBlockInfo &info) override { info.FlashId = 0x00BF; }
    void SetFlashParameters(uint16_t, uint16_t, uint16_t, uint16_t) override {}
    void EraseFlash(uint32_t) override {}
    void WriteBlock(uint32_t, uint16_t, const uint8_t *) override {
        ++writes;
        if (!failureDetail.empty()) throw TargetCommException(LoaderErrorTimeout, failureDetail);
        QElapsedTimer clock;
        clock.start();
        if (whileWaiting) {
            auto once = std::move(whileWaiting);
            whileWaiting = nullptr;
            once();
        }
        // Bounded: a test never waits more than 5 s here.
        while (clock.elapsed() < 5000) {
            if (cancelled) {
                cancelled = false;
                throw TargetCommException(LoaderErrorCancelled);
            }
            if (!waitForCancel && clock.elapsed() >= 5) return;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        throw TargetCommException(LoaderErrorTimeout);
    }
    void StartBios(uint8_t) override { ++startBios; }
    void NetworkDownload(const std::string &, const std::string &, uint32_t, int32_t,
                         NetworkContinueCallback, uint32_t, uint32_t,
                         NetworkStatusCallback) override {}
    void EndNetworkDownload() override {}
    bool ProbeTarget() override { return true; }
    void ResetTarget(int32_t) override {}
    void SendEndTriplet() override {}
    void RunUserProgram() override {}
    void RunProgram() override {}
    void Pause(uint32_t) override {}
};
