// TEthernetConnection: what both TCP kinds share (the network programming device and the board's
// console): the stream socket, the connect wait, sending, the blocking receive on the reader
// thread, closing, and the parser's resynchronisation on 0x02.
//
// Threads: as TConnection. The socket is written on the user-interface thread and read on the
// reader thread; Close wakes a blocked receive by shutting the socket down before it closes it.
#pragma once

#include "comm/TConnection.h"
#include "platform/Socket.h"

#include <cstdint>

class TEthernetConnection : public TConnection {
public:
    static constexpr uint32_t ConnectWaitMs = 60000;

    explicit TEthernetConnection(platform::HWND window);
    ~TEthernetConnection() override;

    // Stores the mode only; Connect starts the reader.
    void SetMode(uint8_t mode) override { mode_ = mode; }
    // The link carries packets only: 4098 unless the mode is 0, and nothing happens in mode 0.
    void WriteRaw(const uint8_t *data, uint32_t count) override;
    void ReadRaw(uint8_t *data, uint32_t count) override;
    // Open while the socket is and its reader runs: a link whose reader ended is dead.
    bool IsOpen() const override { return socket_.Valid() && ReaderRunning(); }
    // Stops the reader (releasing it if it waits in a message to this thread), closes the socket.
    void Close() override;
    void SetRetryCount(int32_t count) override { settings_.EthernetRetryCount = count; }
    int32_t GetRetryCount() const override { return settings_.EthernetRetryCount; }
    int32_t GetResponseTimeout() const override { return settings_.EthernetResponseTimeout; }
    void SetResponseTimeout(int32_t ms) override { settings_.EthernetResponseTimeout = ms; }

    // Opens the connection and, when connected, starts the reader. Fails with xConnectionErr;
    // returns without error and without a reader when a quit message arrives during the wait.
    virtual void Connect(uint8_t mode) = 0;

    // How long the connect waits for the device (ConnectWaitMs unless a test shortens it). The
    // console kind bounds each of its login waits by the same timer and the same time.
    void SetConnectWait(uint32_t ms) { connectWaitMs_ = ms; }
    uint32_t ConnectWait() const { return connectWaitMs_; }

protected:
    enum class ConnectOutcome { Connected, Quit };

    // What a failed connect raises: the two kinds report a refusal and a silent peer with codes
    // of their own.
    struct ConnectCodes {
        int32_t refused;  // fails at once, or its notification reports an error
        int32_t timedOut; // nothing within ConnectWait()
    };
    static constexpr ConnectCodes LinkConnectCodes{ConnCode::TcpConnectFailed, ConnCode::NoReply};

    // Creates the socket (3002), starts the connect to address:port (codes.refused when it fails
    // at once or its notification reports an error, also for an address that is not
    // dotted-decimal IPv4) and waits on timer ConnectTimerId: 4124 when cancelled,
    // codes.timedOut when the wait runs out. The socket is closed again on every failure.
    // Connected: the socket is left non-blocking, still reporting to the window; the kind hands
    // it over with HandOverSocket.
    ConnectOutcome OpenStream(const char *address, uint16_t port, const ConnectCodes &codes);
    // "10.0.0.5:4244" once a connect was started.
    std::string TargetName() const override { return target_; }
    // Ends the window notifications and makes the socket blocking for the reader, with linger
    // on (and 0 s: a close resets at once) or off. A failure closes the socket and raises the
    // error number itself.
    void HandOverSocket(bool lingerOn);
    // Sends every byte, in slices that let messages through while the peer's window is full;
    // failCode (4102 unless given) when the socket refuses them, 4124 when cancelled, the
    // reader's code when it ended.
    void SendBytes(const uint8_t *data, uint32_t count, int32_t failCode = ConnCode::WriteFailed);

    void WaitForData() override;
    uint32_t ReadAvailable() override;
    bool NextByte(uint8_t &out) override;
    void WakeReader() override;

    platform::Socket socket_;

private:
    enum class WaitResult { Pending, Connected, Cancelled, TimedOut, Quit };
    WaitResult WaitForConnect(int32_t refusedCode);
    void AbandonConnect();
    // The detail of a connect the system refused with error: its reason and what to check.
    std::string ConnectFailureDetail(int error) const;

    uint32_t connectWaitMs_ = ConnectWaitMs;
    std::string target_;
};
