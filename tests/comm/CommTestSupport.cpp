#include "CommTestSupport.h"

#include "platform/Clock.h"

#include <atomic>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <thread>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace platform;

namespace commtest {

// ---- window ----

struct TestWindow::Record {
    mutable std::mutex mutex;
    std::vector<UINT_PTR> timers;
    std::vector<UINT> messages;
};

TestWindow::TestWindow()
    : record_(std::make_unique<Record>()), hwnd_(CreateWindow(&TestWindow::Proc, record_.get())) {}

TestWindow::~TestWindow() { DestroyWindow(hwnd_); }

LRESULT TestWindow::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
    auto *record = static_cast<Record *>(GetWindowUserData(hwnd));
    if (!record) return 0;
    std::lock_guard lock(record->mutex);
    record->messages.push_back(msg);
    if (msg == WM_TIMER) record->timers.push_back(wParam);
    return 0;
}

std::vector<UINT_PTR> TestWindow::TimersSeen() const {
    std::lock_guard lock(record_->mutex);
    return record_->timers;
}

int TestWindow::MessagesSeen(UINT message) const {
    std::lock_guard lock(record_->mutex);
    int count = 0;
    for (UINT m : record_->messages) count += m == message;
    return count;
}

bool PumpUntil(const std::function<bool()> &done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (done()) return true; // asked once per round: done() may consume what it checks
        if (std::chrono::steady_clock::now() >= end) return false;
        MSG msg;
        if (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) continue; // no quit is expected here; never loop on one
            DispatchMessage(&msg);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

// ---- peer ----

void WriteAll(int fd, const std::vector<uint8_t> &bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                pollfd p{fd, POLLOUT, 0};
                ::poll(&p, 1, 10);
                continue;
            }
            throw std::runtime_error("peer write failed");
        }
        done += static_cast<size_t>(n);
    }
}

std::vector<uint8_t> Reply(uint8_t type, uint8_t subtype, const std::vector<uint8_t> &payload) {
    return packet::MakeFrame(type, subtype, payload.data(), payload.size());
}

ScriptedPeer::ScriptedPeer(int fd, Responder responder)
    : fd_(fd), responder_(std::move(responder)), thread_(&ScriptedPeer::Run, this) {}

ScriptedPeer::~ScriptedPeer() {
    stop_ = true;
    thread_.join();
}

void ScriptedPeer::Run() {
    packet::FrameScanner scanner;
    uint8_t buffer[4096];
    while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0) continue;
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            return;
        }
        {
            std::lock_guard lock(mutex_);
            wire_.insert(wire_.end(), buffer, buffer + n);
        }
        size_t offset = 0;
        while (offset < static_cast<size_t>(n)) {
            size_t used = 0;
            packet::DecodedFrame frame;
            const bool got =
                scanner.Feed(buffer + offset, static_cast<size_t>(n) - offset, &used, &frame);
            offset += used;
            if (!got) continue;
            int index = 0;
            {
                std::lock_guard lock(mutex_);
                frames_.push_back(frame);
                index = static_cast<int>(frames_.size()) - 1;
            }
            std::vector<uint8_t> answer =
                responder_ ? responder_(frame, index) : std::vector<uint8_t>{};
            ++framesSeen_;
            if (!answer.empty()) WriteAll(fd_, answer);
        }
    }
}

std::vector<packet::DecodedFrame> ScriptedPeer::Frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
}

std::vector<uint8_t> ScriptedPeer::WireBytes() const {
    std::lock_guard lock(mutex_);
    return wire_;
}

bool ScriptedPeer::WaitFrames(int count, int timeoutMs) const {
    for (int waited = 0; waited < timeoutMs && framesSeen_ < count; waited += 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return framesSeen_ >= count;
}

// ---- pipe connection ----

TPipeConnection::TPipeConnection(HWND window, int32_t retries, int32_t timeoutMs)
    : TConnection(window) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        throw std::runtime_error("socketpair");
    fd_ = fds[0];
    peerFd_ = fds[1];
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    settings_.SerialRetryCount = retries;
    settings_.SerialResponseTimeout = timeoutMs;
}

TPipeConnection::~TPipeConnection() {
    StopReader();
    for (int fd : {fd_, peerFd_, wakeFd_})
        if (fd >= 0) ::close(fd);
}

void TPipeConnection::SetMode(uint8_t mode) {
    if (mode == mode_) return;
    if (mode == ConnMode::Packet) {
        mode_ = mode;
        StartReader();
        return;
    }
    StopReader();
    mode_ = mode;
}

void TPipeConnection::WriteRaw(const uint8_t *, uint32_t) {
    if (mode_ != ConnMode::Raw) throw xConnectionErr(ConnCode::NotRawMode);
}

void TPipeConnection::ReadRaw(uint8_t *, uint32_t) {
    if (mode_ != ConnMode::Raw) throw xConnectionErr(ConnCode::NotRawMode);
}

void TPipeConnection::Close() {
    ShutDownReader();
    mode_ = ConnMode::NotStarted;
}

void TPipeConnection::Write(const uint8_t *data, uint32_t count) {
    WriteAll(fd_, std::vector<uint8_t>(data, data + count));
}

void TPipeConnection::WaitForData() {
    pollfd p[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    ::poll(p, 2, -1);
    if (stop_) EndReader(ConnCode::ReaderStopped);
}

uint32_t TPipeConnection::ReadAvailable() {
    const ssize_t n = ::recv(fd_, chunk_, ChunkSize, MSG_DONTWAIT);
    if (n == 0) EndReader(ConnCode::PeerClosed);
    chunkAvailable_ = n > 0 ? static_cast<uint32_t>(n) : 0;
    chunkPosition_ = 0;
    return chunkAvailable_;
}

void TPipeConnection::WakeReader() {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

// ---- log capture ----

namespace {
std::mutex logMutex;
std::vector<std::string> logEvents;
std::vector<std::vector<uint8_t>> logData;

void Note(const std::string &event) {
    std::lock_guard lock(logMutex);
    logEvents.push_back(event);
}
void OnTime() { Note("time"); }
std::atomic<bool> slowSendHeading{false};
void OnSend() {
    Note("send");
    if (slowSendHeading) std::this_thread::sleep_for(std::chrono::microseconds(300));
}
void OnReceive() { Note("receive"); }
void OnClosed() { Note("closed"); }
void OnData(const uint8_t *bytes, uint32_t count) {
    std::lock_guard lock(logMutex);
    logEvents.push_back("data " + std::to_string(count));
    logData.emplace_back(bytes, bytes + count);
}
void OnPort(const SerialSettings *settings, uint32_t, int32_t port, uint8_t opened) {
    Note("port COM" + std::to_string(port) + (opened ? " opened" : " not opened") + " baud " +
         std::to_string(settings ? settings->baudRate : 0));
}
} // namespace

void LogCapture::Install(bool logRawWrites, bool logRawReads) {
    {
        std::lock_guard lock(logMutex);
        logEvents.clear();
        logData.clear();
    }
    TConnection::SetLogHooks(&OnSend, &OnReceive, &OnData, &OnPort, &OnClosed, &OnTime,
                             logRawWrites, logRawReads);
}

void LogCapture::SlowSendHeading(bool slow) { slowSendHeading = slow; }

void LogCapture::Uninstall() {
    slowSendHeading = false;
    TConnection::SetLogHooks(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, false, false);
}

std::vector<std::string> LogCapture::Events() {
    std::lock_guard lock(logMutex);
    return logEvents;
}

std::vector<std::vector<uint8_t>> LogCapture::DataCalls() {
    std::lock_guard lock(logMutex);
    return logData;
}

// ---- pseudo-terminal ----

Pty::Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        throw std::runtime_error("no pseudo-terminal");
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("ptsname");
    slave_ = name;
}

Pty::~Pty() {
    if (master_ >= 0) ::close(master_);
}

std::vector<uint8_t> Pty::Read(size_t count, int timeoutMs) {
    std::vector<uint8_t> got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count && std::chrono::steady_clock::now() < end) {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, 5) <= 0) continue;
        uint8_t buffer[4096];
        const ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - got.size()));
        if (n > 0) got.insert(got.end(), buffer, buffer + n);
    }
    return got;
}

// ---- serial connection on a device ----

TDeviceSerialConnection::TDeviceSerialConnection(HWND window, std::string device)
    : TSerialConnection(window), device_(std::move(device)) {}

std::unique_ptr<SerialPort> TDeviceSerialConnection::OpenPort(int32_t, SerialError *error) {
    auto port = OpenSerialDevice(device_, error);
    if (!port) return nullptr;
    return std::make_unique<CountingPort>(std::move(port), portWrites);
}

int ThreadCount() {
    int count = 0;
    if (DIR *dir = ::opendir("/proc/self/task")) {
        while (dirent *entry = ::readdir(dir))
            if (entry->d_name[0] != '.') ++count;
        ::closedir(dir);
    }
    return count;
}

} // namespace commtest
