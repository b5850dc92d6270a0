// The window messages and timer ids of the program's own, in one place so that no two layers
// pick the same number.
#pragma once

#include "platform/Messages.h"

// The connection layer, on the window a connection hooks.
// 1025, sent, lParam = the PacketBatch of callback packets received together
inline constexpr platform::UINT UM_PACKET = platform::WM_USER + 1;
inline constexpr platform::UINT UM_PACKET_COPIED =
    platform::WM_USER + 2; // 1026, sent, lParam = entry
inline constexpr platform::UINT UM_SOCKET_ERROR =
    platform::WM_USER + 3;                                          // 1027, sent, wParam = error
inline constexpr platform::UINT UM_CONNECT = platform::WM_USER + 7; // 1031, connect notification
inline constexpr platform::UINT UM_CONSOLE_READ = platform::WM_USER + 9; // 1033, console readable
inline constexpr platform::UINT UM_WAKE = platform::WM_USER + 10;        // 1034, posted by the hook
// Posted by a reader thread that ends for any reason but its own connection's stop, so that a
// wait on the connection ends at once instead of at its time-out.
inline constexpr platform::UINT UM_READER_ENDED = platform::WM_USER + 11; // 1035
// The range a closing connection removes from the queue.
inline constexpr platform::UINT FirstConnectionMessage = platform::WM_USER;
inline constexpr platform::UINT LastConnectionMessage = platform::WM_USER + 11;

// The windowed download: each write acknowledgement posts this to the window of the last connect.
inline constexpr platform::UINT UM_DOWNLOAD_ACK = platform::WM_USER + 1000; // 2024
// tarnwick-cli: Ctrl-C, from the signal thread to the load's window.
inline constexpr platform::UINT UM_CANCEL_LOAD = platform::WM_USER + 100;

// Timers on the hooked window: a reply wait uses WaitTimerBase + its nesting depth, the TCP
// connect and console waits ConnectTimerId, the download's acknowledgements DownloadTimerId.
inline constexpr platform::UINT_PTR WaitTimerBase = 1000;
inline constexpr platform::UINT_PTR ConnectTimerId = 1000;
inline constexpr platform::UINT_PTR DownloadTimerId = 2000;
