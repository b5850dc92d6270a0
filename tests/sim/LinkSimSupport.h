// A host for the simulated link device: the product's own CorvixLink connection on a window of
// the test thread, connected and authenticated the way the loader engine does it.
#pragma once

#include "LinkDevice.h"

#include "comm/DeviceAuthentication.h"
#include "comm/TCorvixLinkConnection.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace linksim {

// Pumps the calling thread's messages until done() or timeoutMs pass. Returns done().
bool PumpUntil(const std::function<bool()> &done, int timeoutMs);

class LinkHost {
public:
    // Connects to 127.0.0.1:port; passphrase gives the key (MD5 of the text) when the device asks.
    LinkHost(uint16_t port, std::optional<std::string> passphrase = std::nullopt);
    ~LinkHost();

    TCorvixLinkConnection &Link() { return *link_; }
    // Waits for the challenge and answers it (raises what the connection raises).
    void Authenticate();
    DeviceAuthOutcome Outcome() const { return auth_.outcome; }
    // SYS/WRITE acknowledgements (and refusals) counted by a handler, without waiting.
    void CountWriteReplies();
    int WriteReplies() const { return writeReplies_; }
    // Sends one SYS/WRITE of data to address without waiting.
    void SendWrite(uint32_t address, const uint8_t *data, uint16_t count);

private:
    static void CountReply(const uint8_t *, uint16_t, void *context);

    platform::HWND window_;
    std::unique_ptr<TCorvixLinkConnection> link_;
    DeviceAuthentication auth_;
    int writeReplies_ = 0;
};

} // namespace linksim
