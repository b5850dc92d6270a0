#include "LinkSimSupport.h"

#include "platform/Md5.h"

#include <chrono>
#include <thread>
#include <vector>

namespace linksim {

using namespace platform;

namespace {

LRESULT QuietProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

} // namespace

bool PumpUntil(const std::function<bool()> &done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        MSG msg;
        if (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message != WM_QUIT) DispatchMessage(&msg);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return true;
}

LinkHost::LinkHost(uint16_t port, std::optional<std::string> passphrase)
    : window_(CreateWindow(&QuietProc)), link_(std::make_unique<TCorvixLinkConnection>(window_)) {
    CommOptions options;
    SetField(options.CorvixLinkAddress, "127.0.0.1");
    options.CorvixLinkTcpPort = port;
    options.EthernetResponseTimeout = 2000;
    options.EthernetRetryCount = 0;
    link_->SetSettings(options);
    link_->SetConnectWait(5000);
    auth_.connection = link_.get();
    auth_.passphrase = [text = passphrase.value_or("")] {
        return Md5(reinterpret_cast<const uint8_t *>(text.data()), text.size());
    };
    // Before the connect, as the engine does: the device speaks first, at once.
    link_->RegisterHandler(1, DbgChallenge, &DeviceAuthenticationHandler, &auth_, true, false);
    link_->Connect(ConnMode::Packet);
}

LinkHost::~LinkHost() {
    link_->Close();
    link_.reset();
    DestroyWindow(window_);
}

void LinkHost::Authenticate() { link_->SendAndWait(1, DbgChallenge, nullptr, 0, true); }

void LinkHost::CountReply(const uint8_t *, uint16_t, void *context) {
    ++*static_cast<int *>(context);
}

void LinkHost::CountWriteReplies() {
    writeReplies_ = 0;
    link_->RegisterHandler(0, 3, &CountReply, &writeReplies_, false, false);
}

void LinkHost::SendWrite(uint32_t address, const uint8_t *data, uint16_t count) {
    std::vector<uint8_t> payload{0,
                                 uint8_t(count),
                                 uint8_t(count >> 8),
                                 uint8_t(address),
                                 uint8_t(address >> 8),
                                 uint8_t(address >> 16),
                                 uint8_t(address >> 24)};
    payload.insert(payload.end(), data, data + count);
    link_->Send(0, 3, payload.data(), uint32_t(payload.size()));
}

} // namespace linksim
