// Local serial ports through the Win32 comm API ("\\.\COM3"). The port is opened overlapped, so
// every wait is a WaitForMultipleObjects that Wake() can end and no thread is ever stuck inside
// a read or a write.
#include "platform/SerialBackends.h"
#include "platform/SystemError.h"

#include <windows.h>

#include <atomic>

namespace platform {

namespace {

// Output that does not leave within this time plus its own wire time is stuck (flow control).
constexpr DWORD DrainSlackMs = 2000;

bool ValidSettings(const SerialSettings &settings) {
    return settings.baudRate > 0 && settings.stopBits >= 0 && settings.stopBits <= 2 &&
           settings.dtrControl >= DTR_CONTROL_DISABLE &&
           settings.dtrControl <= DTR_CONTROL_HANDSHAKE &&
           settings.rtsControl >= RTS_CONTROL_DISABLE && settings.rtsControl <= RTS_CONTROL_TOGGLE;
}

// A handle closed by its destructor.
class Handle {
public:
    explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
    ~Handle() {
        if (handle_ && handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

class CommSerialPort final : public SerialPort {
public:
    CommSerialPort(std::string path, HANDLE port) : path_(std::move(path)), port_(port) {}
    ~CommSerialPort() override { ::CancelIo(port_.Get()); }

    bool Valid() const {
        return wake_.Get() && waitEvent_.Get() && ioEvent_.Get() &&
               ::SetCommMask(port_.Get(), EV_RXCHAR) != 0;
    }

    bool Configure(const SerialSettings &settings) override {
        if (!ValidSettings(settings)) return false;
        // Bytes already written go out at the rate they were written for.
        if (!DrainOutput()) return false;
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(port_.Get(), &dcb)) return false;
        dcb.BaudRate = settings.baudRate;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = static_cast<BYTE>(settings.stopBits);
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        dcb.fOutxCtsFlow = settings.rtsControl == RTS_CONTROL_HANDSHAKE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDtrControl = static_cast<DWORD>(settings.dtrControl);
        dcb.fRtsControl = static_cast<DWORD>(settings.rtsControl);
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fAbortOnError = FALSE;
        if (!::SetCommState(port_.Get(), &dcb)) return false;
        baudRate_ = settings.baudRate;
        // Reads return what has arrived at once; writes wait as long as they must.
        COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
        return ::SetCommTimeouts(port_.Get(), &timeouts) != 0;
    }

    bool Write(const uint8_t *data, size_t count) override {
        const unsigned generation = wakeGeneration_.load();
        while (count > 0) {
            const DWORD part = count > 0x10000 ? 0x10000 : static_cast<DWORD>(count);
            DWORD written = 0;
            if (!Io(false, const_cast<uint8_t *>(data), part, &written, generation)) return false;
            data += written;
            count -= written;
        }
        return true;
    }

    long ReadNow(uint8_t *data, size_t count) override {
        const DWORD part = count > 0x10000 ? 0x10000 : static_cast<DWORD>(count);
        DWORD got = 0;
        // The timeouts make this read return at once with what is there.
        if (!Io(true, data, part, &got, wakeGeneration_.load())) return -1;
        return static_cast<long>(got);
    }

    int WaitReadable(int timeoutMs) override {
        const unsigned generation = wakeGeneration_.load();
        const long queued = InputQueueCount();
        if (queued < 0) return -1;
        if (queued > 0) return 1;
        OVERLAPPED overlapped{};
        overlapped.hEvent = waitEvent_.Get();
        DWORD mask = 0;
        if (!::WaitCommEvent(port_.Get(), &mask, &overlapped)) {
            if (::GetLastError() != ERROR_IO_PENDING) return -1;
            if (generation != wakeGeneration_.load()) {
                ::CancelIo(port_.Get());
                return 0;
            }
            const HANDLE events[2] = {waitEvent_.Get(), wake_.Get()};
            const DWORD waited = ::WaitForMultipleObjects(
                2, events, FALSE, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
            if (waited != WAIT_OBJECT_0) {
                ::CancelIo(port_.Get());
                DWORD ignored = 0;
                ::GetOverlappedResult(port_.Get(), &overlapped, &ignored, TRUE);
                return 0; // timed out or woken
            }
            DWORD ignored = 0;
            if (!::GetOverlappedResult(port_.Get(), &overlapped, &ignored, FALSE)) return -1;
        }
        return InputQueueCount() > 0 ? 1 : 0;
    }

    void Wake() override {
        ++wakeGeneration_;
        ::SetEvent(wake_.Get());
    }

    long InputQueueCount() override {
        COMSTAT status{};
        DWORD errors = 0;
        if (!::ClearCommError(port_.Get(), &errors, &status)) return -1;
        return static_cast<long>(status.cbInQue);
    }

    long OutputQueueCount() override {
        COMSTAT status{};
        DWORD errors = 0;
        if (!::ClearCommError(port_.Get(), &errors, &status)) return -1;
        return static_cast<long>(status.cbOutQue);
    }

    bool PurgeInput() override { return ::PurgeComm(port_.Get(), PURGE_RXCLEAR) != 0; }

    bool DrainOutput() override {
        const long queued = OutputQueueCount();
        if (queued < 0) return false;
        const uint32_t rate = baudRate_ ? baudRate_ : 9600;
        const DWORD limit = DrainSlackMs + static_cast<DWORD>(uint64_t(queued) * 10000 / rate);
        const ULONGLONG deadline = ::GetTickCount64() + limit;
        for (long left = queued; left > 0; left = OutputQueueCount()) {
            if (left < 0 || ::GetTickCount64() >= deadline) return false;
            if (::WaitForSingleObject(wake_.Get(), 1) == WAIT_OBJECT_0) return false;
        }
        return true;
    }

    bool GetModemStatus(uint32_t *status) override {
        DWORD lines = 0;
        if (!::GetCommModemStatus(port_.Get(), &lines)) return false;
        *status = lines; // the MS_* bits are the system's own
        return true;
    }

    std::string DeviceName() const override { return path_; }

private:
    // One overlapped read or write, waited for unless Wake() comes first (then it fails).
    bool Io(bool read, uint8_t *data, DWORD count, DWORD *done, unsigned generation) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = ioEvent_.Get();
        const BOOL started = read ? ::ReadFile(port_.Get(), data, count, nullptr, &overlapped)
                                  : ::WriteFile(port_.Get(), data, count, nullptr, &overlapped);
        if (!started && ::GetLastError() != ERROR_IO_PENDING) return false;
        if (!started) {
            const HANDLE events[2] = {ioEvent_.Get(), wake_.Get()};
            if (generation != wakeGeneration_.load() ||
                ::WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
                ::CancelIo(port_.Get());
                ::GetOverlappedResult(port_.Get(), &overlapped, done, TRUE);
                return false;
            }
        }
        return ::GetOverlappedResult(port_.Get(), &overlapped, done, TRUE) != 0;
    }

    const std::string path_;
    Handle port_;
    // Auto-reset: each Wake() ends one wait; the generation tells later waits of it too.
    Handle wake_{::CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    Handle waitEvent_{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    Handle ioEvent_{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<unsigned> wakeGeneration_{0};
    uint32_t baudRate_ = 0;
};

} // namespace

std::unique_ptr<SerialPort> OpenLocalSerialDevice(const std::string &path, SerialError *error) {
    // No sharing: the port is this program's alone while it is open, as COM ports always are.
    const HANDLE port = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        SetSerialError(error, static_cast<int>(::GetLastError()), path);
        return nullptr;
    }
    auto serial = std::make_unique<CommSerialPort>(path, port);
    if (!serial->Valid()) {
        SetSerialError(error, static_cast<int>(::GetLastError()), path);
        return nullptr;
    }
    return serial;
}

} // namespace platform
