// The engine's connection: the reconnect rule, disconnect while a stage runs, cancel, and the
// engine without any connection.
#include "EngineTestSupport.h"

#include "platform/Registry.h"

#include <gtest/gtest.h>

using namespace enginetest;

namespace {

class ConnectTest : public EngineTest {};

TEST_F(ConnectTest, SameOptionsKeepTheLineAndAChangedRateReopensIt) {
    StartBoard(SilentBoard());
    ConnectAt(57600, 0);
    const TConnection *first = engine->CurrentConnection();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(pty.SlaveBaud(), 57600u);

    // Moved behind the engine's back: an identical connect must not touch the port.
    pty.SetSlaveBaud(9600);
    ConnectAt(57600, 0);
    EXPECT_EQ(engine->CurrentConnection(), first);
    EXPECT_EQ(pty.SlaveBaud(), 9600u);

    ConnectAt(115200, 0);
    EXPECT_EQ(engine->CurrentConnection(), first); // the serial connection lives on
    EXPECT_EQ(pty.SlaveBaud(), 115200u);

    // A change of packet mode alone reopens too.
    pty.SetSlaveBaud(9600);
    ConnectAt(115200, 1);
    EXPECT_EQ(engine->GetConnectionMode(), 1);
    EXPECT_EQ(pty.SlaveBaud(), 115200u);
}

TEST_F(ConnectTest, AfterAResetPulseTheSameOptionsAreAppliedAgain) {
    StartBoard(SilentBoard());
    ConnectAt(57600, 0);
    engine->ResetTarget(2400);
    EXPECT_EQ(pty.SlaveBaud(), 2400u);
    // The remembered options no longer describe the port.
    ConnectAt(57600, 0);
    EXPECT_EQ(pty.SlaveBaud(), 57600u);
}

TEST_F(ConnectTest, ANewOwnerWindowGetsItsOwnConnection) {
    PacketBoard pilot(AckAll());
    StartBoard(pilot.AsResponder());
    ConnectAt(57600, 1);
    {
        ActionWindow second;
        engine->Connect(second.Handle(), SerialOptions(57600), 1, {});
        engine->RegisterPacketKinds();
        ASSERT_NE(engine->CurrentConnection(), nullptr);
        EXPECT_EQ(engine->CurrentConnection()->Window(), second.Handle());
        EXPECT_TRUE(engine->SetTargetBaudRate(115200));
        engine->Disconnect();
    }
    EXPECT_EQ(engine->CurrentConnection(), nullptr);
}

TEST_F(ConnectTest, DisconnectWhileAStageWaitsClosesButKeepsTheConnection) {
    StartBoard(SilentBoard());
    CommOptions options = SerialOptions(57600);
    options.SerialResponseTimeout = 5000;
    ConnectAt(57600, 1, options);
    int32_t disconnectError = 0;
    window.Run([&] { disconnectError = LoaderErrorOf([&] { engine->Disconnect(); }); });
    // The closed line ends the wait, and the request counts as failed, not answered.
    EXPECT_EQ(LoaderErrorOf([&] { engine->SetTargetBaudRate(115200); }), LoaderErrorCommunication);
    EXPECT_TRUE(window.ActionRan());
    EXPECT_EQ(disconnectError, LoaderErrorCommunication);
    ASSERT_NE(engine->CurrentConnection(), nullptr);
    EXPECT_FALSE(engine->CurrentConnection()->IsOpen());

    // With no stage running the next Disconnect deletes it.
    engine->Disconnect();
    EXPECT_EQ(engine->CurrentConnection(), nullptr);
    EXPECT_EQ(engine->GetConnectionMode(), 2);
}

TEST_F(ConnectTest, CancelWithNoStageRunningHasNoEffect) {
    PacketBoard pilot(AckAll());
    StartBoard(pilot.AsResponder());
    ConnectAt(57600, 1);
    engine->CancelTransfer();
    EXPECT_TRUE(engine->SetTargetBaudRate(115200));
}

TEST_F(ConnectTest, NetworkOptionsAreRefusedWithTwentyTwo) {
    CommOptions options = SerialOptions(57600);
    options.UseTCP = 1;
    EXPECT_EQ(LoaderErrorOf([&] { engine->Connect(window.Handle(), options, 1, {}); }),
              LoaderErrorCommunication);
    EXPECT_TRUE(messages.Texts().empty());
    EXPECT_EQ(engine->CurrentConnection(), nullptr);
}

TEST_F(ConnectTest, UnopenablePortIsNineteen) {
    CommOptions options = SerialOptions(57600);
    options.ComPort = 1;
    platform::RegKey("Software\\Vexlon\\ZEP\\Ports").SetString("COM1", "/nonexistent/tty");
    EXPECT_EQ(LoaderErrorOf([&] { engine->Connect(window.Handle(), options, 0, {}); }),
              LoaderErrorSerialOpen);
}

TEST(EngineWithoutConnection, AnswersZeroAndDoesNothing) {
    LoaderEngine engine;
    EXPECT_EQ(engine.GetRetryCount(), 0);
    EXPECT_EQ(engine.GetResponseTimeout(), 0);
    EXPECT_EQ(engine.GetConnectionMode(), 2);
    engine.SetRetryCount(5);
    engine.SetResponseTimeout(5);
    EXPECT_EQ(engine.GetRetryCount(), 0);
    EXPECT_NO_THROW(engine.CancelTransfer());
    EXPECT_NO_THROW(engine.RegisterPacketKinds());
    EXPECT_EQ(engine.RegisterPacketKind(0, 4, nullptr, nullptr, 1, 1), 0);
    EXPECT_FALSE(engine.GetPacketKind(0, 4).registered);
    EXPECT_NO_THROW(engine.Disconnect());
    EXPECT_NO_THROW(RaiseLoaderError(254));
    EXPECT_EQ(LoaderErrorOf([] { RaiseLoaderError(777); }), LoaderErrorCommunication);
}

TEST(EngineWithoutConnection, NetworkDownloadFailsAndTheConsoleStartHasNoAddress) {
    MessageCapture messages;
    LoaderEngine engine;
    EXPECT_EQ(
        LoaderErrorOf([&] { engine.NetworkDownload("image.bin", "bin", 0, 0, {}, 128, 0, {}); }),
        LoaderErrorCommunication);
    EXPECT_TRUE(messages.Texts().empty());
    // Like the flash stage's requests, the end of a download has nothing to send it on.
    EXPECT_EQ(LoaderErrorOf([&] { engine.EndNetworkDownload(); }), 0);
    // Without an earlier connect there is no console address to log in at: refused, never
    // reported as a started program.
    EXPECT_EQ(LoaderErrorOf([&] { engine.RunProgram(); }), LoaderErrorConsoleRefused);
    EXPECT_TRUE(messages.Texts().empty());
}

TEST(EngineUsbOption, DefaultsAreOffAndTwoSeconds) {
    uint8_t flag = 9;
    int32_t delay = 0;
    LoaderEngine().GetUsbSerialDelay(flag, delay);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(delay, 2000);
}

} // namespace
