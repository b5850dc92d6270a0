// The communication log: everything that passes over the connection, written to "tcout.txt" in
// the current directory for diagnosing a load. Time stamps, send and receive headings, a
// readable decoding of each packet, hexadecimal dumps, and the serial port's opening and
// closing. The connections call the six hooks below (installed with TConnection::SetLogHooks);
// the five switches of LogSwitches() decide, each time a hook runs, what it writes.
#pragma once

#include "comm/TConnection.h"

#include <cstdint>
#include <string>

namespace commlog {

// Where the next OpenLog writes: "tcout.txt" in the current directory unless a command-line run
// names a file of its own, so that two loads side by side keep two logs.
void SetLogPath(std::string path);

enum class LogStart {
    CreateAnew, // the first connect of a load: an earlier log is emptied
    Append,     // a later connect of the same load, after the log was closed in between
};

// With "Enable TC Logging" on: opens the log file if it is not open, and makes the hooks write.
// A file that cannot be opened leaves the log closed (the hooks then write nothing, the load
// goes on) and says why on standard error.
void OpenLog(LogStart start = LogStart::CreateAnew);
// With "Enable TC Logging" on: closes the file; the hooks write nothing until the next OpenLog.
void CloseLog();
bool IsLogOpen();

// The hooks, in the order TConnection::SetLogHooks takes them. Each writes its output as one
// unbroken piece, whichever thread calls it.
void LogSendHeading();
void LogReceiveHeading();
void LogData(const uint8_t *bytes, uint32_t count);
void LogPortEvent(const platform::SerialSettings *portSettings, uint32_t size, int32_t port,
                  uint8_t opened);
void LogPortClosed();
void LogTimeStamp();

// Installs the six hooks with the two raw-traffic switches as they are now.
void InstallLogHooks();

// The connection on whose behalf the calling thread runs LogData: its mode decides between
// the packet decoding and which switch allows the dump, its framing how to undo the stuffing.
// Outside such a call there is no connection, and LogData writes nothing.
struct LogCaller {
    uint8_t mode = ConnMode::NotStarted;
    bool stuffed = true;
};
class ScopedLogCaller {
public:
    explicit ScopedLogCaller(LogCaller caller);
    ~ScopedLogCaller();
    ScopedLogCaller(const ScopedLogCaller &) = delete;
    ScopedLogCaller &operator=(const ScopedLogCaller &) = delete;

private:
    LogCaller previous_;
};

} // namespace commlog
