// Shared pieces of the connection tests: a connection kind over a socket pair, a scripted peer,
// a test window, bounded message pumping, log-hook capture and a pseudo-terminal.
#pragma once

#include "comm/PacketCodec.h"
#include "comm/TConnection.h"
#include "comm/TSerialConnection.h"
#include "platform/Messages.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace commtest {

// A window of the test thread whose procedure counts what reaches it.
class TestWindow {
public:
    TestWindow();
    ~TestWindow();
    platform::HWND Handle() const { return hwnd_; }
    std::vector<platform::UINT_PTR> TimersSeen() const;
    int MessagesSeen(platform::UINT message) const;
    static platform::LRESULT Proc(platform::HWND, platform::UINT, platform::WPARAM,
                                  platform::LPARAM);

private:
    struct Record;
    std::unique_ptr<Record> record_;
    platform::HWND hwnd_;
};

// Pumps the calling thread's messages until done() or timeoutMs pass. Returns done().
bool PumpUntil(const std::function<bool()> &done, int timeoutMs);

// The far end of a connection: reads frames, answers each through a responder, counts them.
class ScriptedPeer {
public:
    // Gets each frame the connection sent and its index; returns the bytes to write back.
    using Responder = std::function<std::vector<uint8_t>(const packet::DecodedFrame &, int)>;
    ScriptedPeer(int fd, Responder responder);
    ~ScriptedPeer();
    int FramesSeen() const { return framesSeen_; }
    std::vector<packet::DecodedFrame> Frames() const;
    std::vector<uint8_t> WireBytes() const;
    bool WaitFrames(int count, int timeoutMs) const;

private:
    void Run();
    int fd_;
    Responder responder_;
    std::atomic<bool> stop_{false};
    std::atomic<int> framesSeen_{0};
    mutable std::mutex mutex_;
    std::vector<packet::DecodedFrame> frames_;
    std::vector<uint8_t> wire_;
    std::thread thread_;
};

// Writes all bytes to fd (blocking).
void WriteAll(int fd, const std::vector<uint8_t> &bytes);

// Reply frames.
std::vector<uint8_t> Reply(uint8_t type, uint8_t subtype, const std::vector<uint8_t> &payload = {});

// A TConnection kind over one end of a socket pair; the test holds the other end.
class TPipeConnection : public TConnection {
public:
    explicit TPipeConnection(platform::HWND window, int32_t retries = 3, int32_t timeoutMs = 1000);
    ~TPipeConnection() override;
    int PeerFd() const { return peerFd_; }

    void SetMode(uint8_t mode) override;
    void WriteRaw(const uint8_t *, uint32_t) override;
    void ReadRaw(uint8_t *, uint32_t) override;
    bool IsOpen() const override { return fd_ >= 0; }
    void Close() override;
    void SetRetryCount(int32_t count) override { settings_.SerialRetryCount = count; }
    int32_t GetRetryCount() const override { return settings_.SerialRetryCount; }
    int32_t GetResponseTimeout() const override { return settings_.SerialResponseTimeout; }
    void SetResponseTimeout(int32_t ms) override { settings_.SerialResponseTimeout = ms; }

protected:
    void Write(const uint8_t *data, uint32_t count) override;
    void WaitForData() override;
    uint32_t ReadAvailable() override;
    bool NextByte(uint8_t &out) override { return NextByteResyncOnFlag(out); }
    void WakeReader() override;

private:
    int fd_ = -1;
    int peerFd_ = -1;
    int wakeFd_ = -1;
};

// What the log hooks saw, one line per call ("time", "send", "receive", "data N", "port 1"...),
// and the bytes of the last data call.
struct LogCapture {
    static void Install(bool logRawWrites, bool logRawReads);
    // The send heading hook then dawdles, as a slow disk would, so that another thread's entry
    // has every chance to fall between a send's heading and its bytes.
    static void SlowSendHeading(bool slow);
    static void Uninstall();
    static std::vector<std::string> Events();
    static std::vector<std::vector<uint8_t>> DataCalls();
};

// A pseudo-terminal: the test holds the master, the connection opens the slave.
class Pty {
public:
    Pty();
    ~Pty();
    int Master() const { return master_; }
    const std::string &SlavePath() const { return slave_; }
    // Reads up to count bytes within timeoutMs.
    std::vector<uint8_t> Read(size_t count, int timeoutMs);

private:
    int master_ = -1;
    std::string slave_;
};

// Counts the writes that reach the port.
class CountingPort : public platform::SerialPort {
public:
    CountingPort(std::unique_ptr<platform::SerialPort> inner, std::atomic<int> &writes)
        : inner_(std::move(inner)), writes_(writes) {}
    bool Configure(const platform::SerialSettings &s) override { return inner_->Configure(s); }
    bool Write(const uint8_t *data, size_t count) override {
        ++writes_;
        return inner_->Write(data, count);
    }
    long ReadNow(uint8_t *data, size_t count) override { return inner_->ReadNow(data, count); }
    int WaitReadable(int timeoutMs) override { return inner_->WaitReadable(timeoutMs); }
    void Wake() override { inner_->Wake(); }
    long InputQueueCount() override { return inner_->InputQueueCount(); }
    long OutputQueueCount() override { return inner_->OutputQueueCount(); }
    bool PurgeInput() override { return inner_->PurgeInput(); }
    bool DrainOutput() override { return inner_->DrainOutput(); }
    bool GetModemStatus(uint32_t *status) override { return inner_->GetModemStatus(status); }
    std::string DeviceName() const override { return inner_->DeviceName(); }

private:
    std::unique_ptr<platform::SerialPort> inner_;
    std::atomic<int> &writes_;
};

// A serial connection whose port is a given device, with its writes counted.
class TDeviceSerialConnection : public TSerialConnection {
public:
    TDeviceSerialConnection(platform::HWND window, std::string device);
    // The reader makes virtual calls on this object: it ends before any destructor changes it.
    ~TDeviceSerialConnection() override { StopReader(); }
    std::atomic<int> portWrites{0};

protected:
    std::unique_ptr<platform::SerialPort> OpenPort(int32_t comPort,
                                                   platform::SerialError *error) override;

private:
    std::string device_;
};

// Number of threads of this process.
int ThreadCount();

} // namespace commtest
