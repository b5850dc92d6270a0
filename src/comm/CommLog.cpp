#include "comm/CommLog.h"

#include "comm/CommLogSwitches.h"
#include "comm/PacketLogDecoder.h"

#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/SystemError.h"

#include <iostream>
#include <mutex>

namespace commlog {
namespace {

// The one log of the process. The flag mirrors a mutex that may not exist yet: the hooks leave
// the file alone until the first OpenLog and after CloseLog.
struct LogFile {
    std::mutex mutex;
    std::atomic<bool> active{false};
    int fd = -1;                    // guarded by mutex
    std::string path = "tcout.txt"; // guarded by mutex
};

LogFile &File() {
    static LogFile *const file = new LogFile; // a reader thread may still log during exit
    return *file;
}

thread_local LogCaller currentCaller;

bool LoggingEnabled() { return LogSwitches().EnableTcLogging != 0; }

// Write errors are ignored: the log must never disturb the load it describes.
void WriteAll(int fd, const char *bytes, size_t count) {
    while (count > 0) {
        const long written = platform::WriteSome(fd, bytes, count);
        if (written <= 0) return;
        bytes += written;
        count -= static_cast<size_t>(written);
    }
}

// Runs write with the log's text under the mutex, when logging is on and the file is open.
template <typename Writer> void WriteLocked(Writer &&write) {
    LogFile &file = File();
    if (!LoggingEnabled() || !file.active.load(std::memory_order_acquire)) return;
    std::lock_guard lock(file.mutex);
    if (file.fd < 0) return;
    const int fd = file.fd;
    auto sink = [fd](const char *bytes, size_t count) { WriteAll(fd, bytes, count); };
    LogText text(sink);
    write(text);
}

} // namespace

void SetLogPath(std::string path) {
    LogFile &file = File();
    std::lock_guard lock(file.mutex);
    file.path = std::move(path);
}

void OpenLog(LogStart start) {
    if (!LoggingEnabled()) return;
    LogFile &file = File();
    std::lock_guard lock(file.mutex);
    if (file.fd < 0) {
        file.fd = platform::OpenOutputFile(file.path, start == LogStart::CreateAnew);
        if (file.fd < 0) {
            const int error = platform::LastSystemError();
            std::string folder = platform::CurrentFolder();
            if (folder.empty()) folder = ".";
            std::cerr << "tarnwick: the communication log " << file.path
                      << " could not be created in " << folder << ": "
                      << platform::SystemErrorText(error) << " (the load goes on without it)\n";
        }
    }
    file.active.store(true, std::memory_order_release);
}

void CloseLog() {
    if (!LoggingEnabled()) return;
    LogFile &file = File();
    std::lock_guard lock(file.mutex);
    platform::CloseFd(file.fd);
    file.fd = -1;
    file.active.store(false, std::memory_order_release);
}

bool IsLogOpen() {
    LogFile &file = File();
    std::lock_guard lock(file.mutex);
    return file.fd >= 0;
}

void LogTimeStamp() {
    WriteLocked([](LogText &text) {
        platform::SYSTEMTIME now{};
        platform::GetLocalTime(&now);
        text.Format("\r\n(%02d:%02d:%02d:%02d)", now.wHour, now.wMinute, now.wSecond,
                    now.wMilliseconds);
    });
}

void LogSendHeading() {
    WriteLocked([](LogText &text) { text.Put(" send \r\n"); });
}

void LogReceiveHeading() {
    WriteLocked([](LogText &text) { text.Put(" receive\r\n"); });
}

void LogPortClosed() {
    WriteLocked([](LogText &text) { text.Put(" port closed \r\n"); });
}

void LogPortEvent(const platform::SerialSettings *portSettings, uint32_t size, int32_t port,
                  uint8_t opened) {
    WriteLocked([&](LogText &text) {
        text.Format(" COM%d %sopened\r\n", port, opened == 0 ? "not " : "");
        // The record's size comes with it: a shorter one than ours is not read.
        if (LogSwitches().LogVerbose == 0 || portSettings == nullptr ||
            size < sizeof(platform::SerialSettings))
            return;
        text.Format("Baud rate: %d\r\n", static_cast<int32_t>(portSettings->baudRate));
        text.Format("DTR flow control type: %d\r\n", portSettings->dtrControl);
        text.Format("RTS flow control: %d\r\n", portSettings->rtsControl);
        text.Format("Stop Bits (0,1,2 = 1, 1.5, 2): %d\r\n", portSettings->stopBits);
    });
}

void LogData(const uint8_t *bytes, uint32_t count) {
    const LogCaller caller = currentCaller;
    if (caller.mode == ConnMode::NotStarted || bytes == nullptr) return;
    WriteLocked([&](LogText &text) {
        const CommLogSwitches &switches = LogSwitches();
        const bool packetMode = caller.mode == ConnMode::Packet;
        if (packetMode && switches.LogVerbose != 0) DecodeFrame(bytes, count, caller.stuffed, text);
        const bool dump =
            packetMode ? switches.LogPacketData != 0
                       : (switches.LogNonPacketWrites != 0 || switches.LogNonPacketReads != 0);
        if (dump) text.HexDump(bytes, count);
    });
}

void InstallLogHooks() {
    const CommLogSwitches &switches = LogSwitches();
    TConnection::SetLogHooks(&LogSendHeading, &LogReceiveHeading, &LogData, &LogPortEvent,
                             &LogPortClosed, &LogTimeStamp, switches.LogNonPacketWrites != 0,
                             switches.LogNonPacketReads != 0);
}

ScopedLogCaller::ScopedLogCaller(LogCaller caller) : previous_(currentCaller) {
    currentCaller = caller;
}

ScopedLogCaller::~ScopedLogCaller() { currentCaller = previous_; }

} // namespace commlog
