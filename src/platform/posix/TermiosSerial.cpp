// Local serial devices through termios. The descriptor stays non-blocking for its whole life:
// every wait is a poll that Wake() can end, so no thread is ever stuck inside read or write.
#include "platform/SerialBackends.h"
#include "platform/posix/SerialFd.h"
#include "platform/posix/Termios2.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>

#include <linux/serial.h>

namespace platform {

namespace {

// Pseudo-terminals and some USB adapters have no modem lines; current kernels say ENOTTY,
// older ones EINVAL.
bool IsNoModemLines(int error) { return error == ENOTTY || error == EINVAL; }

// A write that makes no progress is re-checked this often, so that Wake() ends it promptly.
constexpr int WriteSliceMs = 50;
// Output that does not leave within this time plus its own wire time is stuck (flow control).
constexpr int DrainSlackMs = 2000;

uint32_t ToModemStatus(int lines) {
    uint32_t status = 0;
    if (lines & TIOCM_CTS) status |= MS_CTS_ON;
    if (lines & TIOCM_DSR) status |= MS_DSR_ON;
    if (lines & TIOCM_RI) status |= MS_RING_ON;
    if (lines & TIOCM_CD) status |= MS_RLSD_ON;
    return status;
}

bool ValidSettings(const SerialSettings &settings) {
    return settings.baudRate > 0 && settings.stopBits >= 0 && settings.stopBits <= 2 &&
           settings.dtrControl >= DTR_CONTROL_DISABLE &&
           settings.dtrControl <= DTR_CONTROL_HANDSHAKE &&
           settings.rtsControl >= RTS_CONTROL_DISABLE && settings.rtsControl <= RTS_CONTROL_TOGGLE;
}

// A driver may round an unusual rate; more than a UART's tolerance off is a refusal.
bool RateAccepted(uint32_t asked, uint32_t got) {
    const uint64_t diff = asked > got ? asked - got : got - asked;
    return diff * 100 <= uint64_t(asked) * 3;
}

class TermiosSerialPort final : public SerialPort {
public:
    TermiosSerialPort(std::string path, UniqueFd fd, bool hasModemLines)
        : path_(std::move(path)), fd_(std::move(fd)), hasModemLines_(hasModemLines) {}

    bool Configure(const SerialSettings &settings) override {
        if (!ValidSettings(settings)) return false;
        // Bytes already written go out at the rate they were written for.
        if (!DrainOutput()) return false;
        Termios2Settings line;
        line.baudRate = settings.baudRate;
        line.twoStopBits =
            settings.stopBits != 0; // 1.5 stop bits do not exist here with 8 data bits
        line.hardwareFlow = settings.rtsControl == RTS_CONTROL_HANDSHAKE;
        if (ApplyTermios2(fd_.Get(), line) != 0) return false;
        Termios2State applied;
        if (ReadTermios2(fd_.Get(), &applied) != 0 ||
            !RateAccepted(settings.baudRate, applied.outputBaud))
            return false;
        baudRate_ = applied.outputBaud;
        return ApplyModemControl(settings);
    }

    bool Write(const uint8_t *data, size_t count) override {
        const unsigned generation = wakeGeneration_.load();
        size_t done = 0;
        while (done < count) {
            ssize_t n = ::write(fd_.Get(), data + done, count - done);
            if (n > 0) {
                done += size_t(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN) return false;
            // The kernel's buffer is full (flow control or a slow line): wait for room, and give up
            // when another thread asks this port to wake, e.g. to close it.
            if (wakeGeneration_.load() != generation) return false;
            pollfd pfd{fd_.Get(), POLLOUT, 0};
            if (::poll(&pfd, 1, WriteSliceMs) < 0 && errno != EINTR) return false;
            if (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
        }
        return true;
    }

    long ReadNow(uint8_t *data, size_t count) override {
        for (;;) {
            ssize_t n = ::read(fd_.Get(), data, count);
            if (n > 0) return long(n);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) return 0;
            return -1; // 0 is a hang-up on a terminal, anything else a failed device
        }
    }

    int WaitReadable(int timeoutMs) override {
        pollfd fds[2] = {{fd_.Get(), POLLIN, 0}, {wake_.Get(), POLLIN, 0}};
        int ready;
        while ((ready = ::poll(fds, 2, timeoutMs)) < 0 && errno == EINTR) {
        }
        if (ready < 0) return -1;
        if (fds[1].revents & POLLIN) {
            wake_.Drain();
            return 0;
        }
        if (fds[0].revents & POLLIN) return 1;
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return -1;
        return 0;
    }

    void Wake() override {
        wakeGeneration_.fetch_add(1);
        wake_.Signal();
    }

    long InputQueueCount() override { return QueueCount(TIOCINQ); }
    long OutputQueueCount() override { return QueueCount(TIOCOUTQ); }

    bool PurgeInput() override { return ::tcflush(fd_.Get(), TCIFLUSH) == 0; }

    bool DrainOutput() override {
        // tcdrain alone would wait for ever on a line stopped by flow control, so first wait, with
        // a bound, for the kernel's queue to empty; tcdrain then only waits for the UART's last
        // bytes.
        const long queued = OutputQueueCount();
        if (queued < 0) return false;
        const uint32_t rate = baudRate_ ? baudRate_ : 300;
        const auto deadline =
            std::chrono::steady_clock::now() +
            std::chrono::milliseconds(DrainSlackMs + int64_t(queued) * 10 * 1000 / rate);
        for (long left = queued; left > 0; left = OutputQueueCount()) {
            if (left < 0 || std::chrono::steady_clock::now() >= deadline) return false;
            // About the time the queued bytes take on the wire, so that draining one byte at
            // 57600 baud costs a sixth of a millisecond, not a whole one.
            std::this_thread::sleep_for(std::chrono::microseconds(
                std::min<int64_t>(int64_t(left) * 10'000'000 / rate, 20'000)));
        }
        while (::tcdrain(fd_.Get()) != 0) {
            if (errno != EINTR) return false;
        }
        return true;
    }

    bool GetModemStatus(uint32_t *status) override {
        if (!hasModemLines_) return false;
        int lines = 0;
        if (::ioctl(fd_.Get(), TIOCMGET, &lines) != 0) return false;
        *status = ToModemStatus(lines);
        return true;
    }

    std::string DeviceName() const override { return path_; }

    bool WakeReady() const { return wake_.Valid(); }

private:
    long QueueCount(unsigned long request) const {
        int count = 0;
        return ::ioctl(fd_.Get(), request, &count) == 0 ? long(count) : -1;
    }

    bool SetLine(int line, bool on) const {
        if (!hasModemLines_) return true; // nothing to drive on a pseudo-terminal
        return ::ioctl(fd_.Get(), on ? TIOCMBIS : TIOCMBIC, &line) == 0;
    }

    // RTS toggle (RTS up only while sending) is what RS-485 transceivers want; the kernel does it
    // where the driver supports its RS-485 mode. Elsewhere RTS stays up, which at least lets a
    // half-duplex adapter send. Leaving toggle mode turns the kernel's RS-485 handling off again.
    void SetRs485(bool on) const {
        if (!hasModemLines_) return;
        serial_rs485 rs485{};
        if (on) rs485.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        // Most drivers have no RS-485 mode (ENOTTY); toggle then falls back as described above.
        (void)::ioctl(fd_.Get(), TIOCSRS485, &rs485);
    }

    bool ApplyModemControl(const SerialSettings &settings) const {
        // Linux has no DTR/DSR input handshake: "handshake" keeps DTR up, as Windows does while
        // the receive buffer has room.
        const bool dtr = settings.dtrControl != DTR_CONTROL_DISABLE;
        SetRs485(settings.rtsControl == RTS_CONTROL_TOGGLE);
        if (!SetLine(TIOCM_DTR, dtr)) return false;
        // With CRTSCTS the kernel drives RTS itself.
        if (settings.rtsControl == RTS_CONTROL_HANDSHAKE) return true;
        return SetLine(TIOCM_RTS, settings.rtsControl != RTS_CONTROL_DISABLE);
    }

    const std::string path_;
    UniqueFd fd_;
    WakeFd wake_;
    std::atomic<unsigned> wakeGeneration_{0};
    const bool hasModemLines_;
    uint32_t baudRate_ = 0;
};

int OpenExclusive(const std::string &path, UniqueFd *out) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) return errno;
    // TIOCEXCL keeps later opens out, but two programs opening at the same moment both get in;
    // the lock settles that race. Devices without lock or exclusive support are still usable.
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return EBUSY;
        if (!IsNoModemLines(errno)) return errno;
    }
    if (::ioctl(fd.Get(), TIOCEXCL) != 0 && !IsNoModemLines(errno)) return errno;
    *out = std::move(fd);
    return 0;
}

} // namespace

std::unique_ptr<SerialPort> OpenLocalSerialDevice(const std::string &path, SerialError *error) {
    UniqueFd fd;
    if (int code = OpenExclusive(path, &fd)) {
        SetSerialError(error, code, path);
        return nullptr;
    }
    Termios2State state;
    if (int code = ReadTermios2(fd.Get(), &state)) {
        SetSerialError(error, code, path); // not a terminal at all
        return nullptr;
    }
    // Raw from the first byte, at whatever rate the device had, until Configure sets the line:
    // a terminal's default line discipline would hold input back until a newline and echo it.
    Termios2Settings raw;
    raw.baudRate = state.outputBaud ? state.outputBaud : 9600;
    raw.twoStopBits = state.twoStopBits;
    if (int code = ApplyTermios2(fd.Get(), raw)) {
        SetSerialError(error, code, path);
        return nullptr;
    }
    int lines = 0;
    bool hasModemLines = true;
    if (::ioctl(fd.Get(), TIOCMGET, &lines) != 0) {
        if (!IsNoModemLines(errno)) {
            SetSerialError(error, errno, path);
            return nullptr;
        }
        hasModemLines = false;
    }
    auto port = std::make_unique<TermiosSerialPort>(path, std::move(fd), hasModemLines);
    if (!port->WakeReady()) {
        SetSerialError(error, EMFILE, path);
        return nullptr;
    }
    return port;
}

} // namespace platform
