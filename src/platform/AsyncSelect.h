// The asynchronous-select emulation behind Socket::AsyncSelect, shared by every backend: a small
// thread per registration polls the socket and a wake handle, and posts what it sees to the
// registered window. Only the sockets layer includes this.
#pragma once

#include "platform/Poll.h"
#include "platform/Socket.h"

#include <atomic>
#include <cstdint>
#include <thread>

namespace platform {

// The outcome of a finished non-blocking connect (SO_ERROR) of the socket handle.
int SocketPendingError(int handle);
enum class PeekResult { Data, Nothing, Closed };
// Looks at the socket without taking anything: data waiting, nothing yet, or the connection is
// over (with *error its error, 0 for an orderly close).
PeekResult PeekSocket(int handle, int *error);

class AsyncSelectWatcher {
public:
    AsyncSelectWatcher(int fd, HWND window, UINT msg, uint16_t events)
        : fd_(fd), window_(window), msg_(msg), events_(events) {}
    ~AsyncSelectWatcher() { Stop(); }
    AsyncSelectWatcher(const AsyncSelectWatcher &) = delete;
    AsyncSelectWatcher &operator=(const AsyncSelectWatcher &) = delete;

    bool Start();
    void Stop();
    // A connect is under way: report its completion.
    void ConnectStarted();
    // The connect finished at once: report that without polling.
    void ConnectDone(int error) { Post(FD_CONNECT, error); }
    // The data was read: report the next arrival.
    void ReadTaken();

private:
    void Post(uint16_t event, int error);
    void Run();
    bool CheckReadable();

    const int fd_;
    const HWND window_;
    const UINT msg_;
    const uint16_t events_;
    WakeFd wake_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> connectPending_{false};
    std::atomic<bool> readArmed_{true};
    std::thread thread_;
};

} // namespace platform
