// The sockets layer on loopback: address texts, the asynchronous notifications and their lParam
// layout, and datagrams.
#include "platform/Messages.h"
#include "platform/Socket.h"
#include "platform/SystemError.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <thread>

using namespace platform;

namespace {

constexpr UINT SocketMessage = WM_USER + 50;

LRESULT QuietProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

struct Window {
    HWND hwnd = CreateWindow(&QuietProc);
    ~Window() { DestroyWindow(hwnd); }
};

// The next socket notification within timeoutMs, or nullopt.
std::optional<LPARAM> NextNotification(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        MSG msg;
        if (PeekMessage(&msg, nullptr, SocketMessage, SocketMessage, PM_REMOVE) &&
            msg.message == SocketMessage)
            return msg.lParam;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return std::nullopt;
}

struct Listener {
    Socket socket = Socket::Tcp();
    uint16_t port = 0;
    Listener() {
        socket.Bind(Ipv4Loopback(), 0);
        socket.Listen(4);
        port = socket.LocalPort();
    }
};

TEST(SocketAddresses, DottedDecimalOnly) {
    const auto address = ParseIpv4("10.0.0.7");
    ASSERT_TRUE(address);
    EXPECT_EQ(FormatIpv4(*address), "10.0.0.7");
    EXPECT_EQ(*ParseIpv4("127.0.0.1"), Ipv4Loopback());
    for (const char *bad :
         {"", "localhost", "10.0.0", "10.0.0.256", "1.2.3.4.5", "1..2.3", " 1.2.3.4", "0001.2.3.4"})
        EXPECT_FALSE(ParseIpv4(bad)) << bad;
    EXPECT_TRUE(LooksLikeBroadcast(*ParseIpv4("255.255.255.255")));
    EXPECT_TRUE(LooksLikeBroadcast(*ParseIpv4("192.168.1.255")));
    EXPECT_FALSE(LooksLikeBroadcast(*ParseIpv4("127.0.0.1")));
}

TEST(SocketAddresses, NotificationLayoutPutsTheEventLowAndTheErrorHigh) {
    const LPARAM lParam = MakeSelectLParam(FD_CONNECT, 111);
    EXPECT_EQ(lParam, LPARAM(111 << 16 | 0x10));
    EXPECT_EQ(SelectEvent(lParam), FD_CONNECT);
    EXPECT_EQ(SelectError(lParam), 111);
}

TEST(SocketAsyncSelect, ConnectCompletionIsPostedWithoutError) {
    Window window;
    Listener listener;
    Socket client = Socket::Tcp();
    ASSERT_EQ(client.AsyncSelect(window.hwnd, SocketMessage, FD_CONNECT), 0);
    const int error = client.Connect(Ipv4Loopback(), listener.port);
    ASSERT_TRUE(error == 0 || IsWouldBlock(error)) << error;
    const auto note = NextNotification(2000);
    ASSERT_TRUE(note);
    EXPECT_EQ(SelectEvent(*note), FD_CONNECT);
    EXPECT_EQ(SelectError(*note), 0);
    EXPECT_FALSE(NextNotification(50)); // once only
}

TEST(SocketAsyncSelect, RefusedConnectCarriesItsErrorInTheHighWord) {
    Window window;
    uint16_t port = 0;
    {
        Listener gone;
        port = gone.port;
    }
    Socket client = Socket::Tcp();
    ASSERT_EQ(client.AsyncSelect(window.hwnd, SocketMessage, FD_CONNECT), 0);
    const int error = client.Connect(Ipv4Loopback(), port);
    if (error == platform::ErrorConnectionRefused)
        GTEST_SKIP() << "refused at once; no notification to check";
    const auto note = NextNotification(2000);
    ASSERT_TRUE(note);
    EXPECT_EQ(SelectEvent(*note), FD_CONNECT);
    EXPECT_EQ(SelectError(*note), platform::ErrorConnectionRefused);
}

TEST(SocketAsyncSelect, ReadIsPostedAgainOnlyAfterARecvAndCloseOnce) {
    Window window;
    Listener listener;
    Socket client = Socket::Tcp();
    ASSERT_EQ(client.Connect(Ipv4Loopback(), listener.port), 0);
    Socket server = listener.socket.Accept();
    ASSERT_TRUE(server.Valid());
    ASSERT_EQ(client.AsyncSelect(window.hwnd, SocketMessage, FD_READ | FD_CLOSE), 0);
    const uint8_t data[3] = {1, 2, 3};
    ASSERT_EQ(server.SendAll(data, 3), 0);
    auto note = NextNotification(2000);
    ASSERT_TRUE(note);
    EXPECT_EQ(SelectEvent(*note), FD_READ);
    ASSERT_EQ(server.SendAll(data, 3), 0);
    EXPECT_FALSE(NextNotification(100)); // not read yet: no second notice
    uint8_t buffer[16];
    EXPECT_EQ(client.Recv(buffer, sizeof buffer).count, 6);
    server.Close();
    note = NextNotification(2000);
    ASSERT_TRUE(note);
    EXPECT_EQ(SelectEvent(*note), FD_CLOSE);
    EXPECT_FALSE(NextNotification(50));
    EXPECT_EQ(client.AsyncSelect(window.hwnd, 0, 0), 0); // ends the registration
}

TEST(SocketStream, ShutdownWakesABlockedReceive) {
    Listener listener;
    Socket client = Socket::Tcp();
    ASSERT_EQ(client.Connect(Ipv4Loopback(), listener.port), 0);
    Socket server = listener.socket.Accept();
    IoResult got{-1, -1};
    std::thread reader([&] {
        uint8_t buffer[8];
        got = client.Recv(buffer, sizeof buffer);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    client.Shutdown(ShutdownHow::Both);
    reader.join();
    EXPECT_EQ(got.count, 0);
    EXPECT_EQ(got.error, 0);
}

TEST(SocketStream, QuickAckTakesOnAStreamAndReportsWhereItCannot) {
    Listener listener;
    Socket client = Socket::Tcp();
    ASSERT_EQ(client.Connect(Ipv4Loopback(), listener.port), 0);
    Socket server = listener.socket.Accept();
    EXPECT_EQ(client.QuickAck(), 0);
    const uint8_t byte = 0x5A;
    ASSERT_EQ(server.SendAll(&byte, 1), 0);
    uint8_t buffer[1] = {};
    EXPECT_EQ(client.Recv(buffer, sizeof buffer).count, 1);
    EXPECT_EQ(client.QuickAck(), 0); // again after a receive, as the connection's reader does
    EXPECT_NE(Socket::Udp().QuickAck(), 0);
    client.Close();
    EXPECT_NE(client.QuickAck(), 0);
}

TEST(SocketDatagram, SendToAndRecvFromOnLoopback) {
    Socket receiver = Socket::Udp();
    ASSERT_EQ(receiver.Bind(Ipv4Loopback(), 0), 0);
    ASSERT_EQ(receiver.SetBlocking(false), 0);
    uint8_t buffer[4];
    EXPECT_TRUE(IsWouldBlock(receiver.RecvFrom(buffer, sizeof buffer).error));
    Socket sender = Socket::Udp();
    ASSERT_EQ(sender.Bind(Ipv4Loopback(), 0), 0);
    const uint8_t data[6] = {9, 8, 7, 6, 5, 4};
    EXPECT_EQ(sender.SendTo(data, sizeof data, Ipv4Loopback(), receiver.LocalPort()).count, 6);
    ASSERT_EQ(receiver.WaitReadable(2000), 1);
    // A datagram larger than the buffer gives the buffer's worth; the rest is gone.
    const Datagram got = receiver.RecvFrom(buffer, sizeof buffer);
    EXPECT_EQ(got.count, 4);
    EXPECT_EQ(got.address, Ipv4Loopback());
    EXPECT_EQ(got.port, sender.LocalPort());
    EXPECT_EQ(buffer[3], 6);
    EXPECT_TRUE(IsWouldBlock(receiver.RecvFrom(buffer, sizeof buffer).error));
}

} // namespace
