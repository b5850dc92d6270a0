// The termios backend against a pseudo-terminal whose master side the test holds: the master
// reports the line settings the port applied to the slave, and carries bytes both ways.
#include "SerialTestSupport.h"

#include "platform/Serial.h"
#include "platform/posix/Termios2.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <future>

using namespace serialtest;
using platform::SerialError;
using platform::SerialSettings;

namespace {

class SerialPty : public ::testing::Test {
protected:
    void SetUp() override {
        SerialError error;
        port = platform::OpenSerialDevice(pty.SlavePath(), &error);
        ASSERT_NE(port, nullptr) << error.description;
    }

    platform::Termios2State SlaveState() const {
        platform::Termios2State state;
        EXPECT_EQ(platform::ReadTermios2(pty.Master(), &state), 0);
        return state;
    }

    PtyPair pty;
    std::unique_ptr<platform::SerialPort> port;
};

TEST_F(SerialPty, OpensByNameWithoutModemLines) {
    EXPECT_EQ(port->DeviceName(), pty.SlavePath());
    uint32_t status = 0xDEAD;
    EXPECT_FALSE(port->GetModemStatus(&status));
    // Driving DTR and RTS on a device without them is not a failure.
    EXPECT_TRUE(
        port->Configure({115200, 0, platform::DTR_CONTROL_ENABLE, platform::RTS_CONTROL_ENABLE}));
}

TEST_F(SerialPty, SecondOpenIsRefusedAsBusy) {
    SerialError error;
    auto second = platform::OpenSerialDevice(pty.SlavePath(), &error);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(error.code, EBUSY);
    EXPECT_NE(error.description.find("another program"), std::string::npos) << error.description;
    // The holder is named as the system lists it: this test program itself.
    EXPECT_NE(error.description.find("held by test_platform (pid " + std::to_string(::getpid())),
              std::string::npos)
        << error.description;
    // Once the holder closes the port, it can be opened again.
    port.reset();
    EXPECT_NE(platform::OpenSerialDevice(pty.SlavePath(), &error), nullptr) << error.description;
}

TEST(SerialOpen, ExplainsCommonFailures) {
    SerialError error;
    EXPECT_EQ(platform::OpenSerialDevice("/dev/ttyNoSuchAdapter7", &error), nullptr);
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_NE(error.description.find("plugged in"), std::string::npos) << error.description;

    EXPECT_EQ(platform::OpenSerialDevice("/dev/null", &error), nullptr);
    EXPECT_EQ(error.code, ENOTTY) << "a device that is not a terminal is no serial port";
}

TEST_F(SerialPty, AppliesAnyRateInRawEightNone) {
    for (uint32_t rate : {57600u, 128000u, 256000u, 12800u}) {
        ASSERT_TRUE(port->Configure({rate, 0, 1, 1})) << rate;
        const auto state = SlaveState();
        EXPECT_EQ(state.outputBaud, rate);
        EXPECT_EQ(state.inputBaud, rate);
        EXPECT_EQ(state.dataBits, 8);
        EXPECT_FALSE(state.parity);
        EXPECT_TRUE(state.raw);
    }
}

TEST_F(SerialPty, MapsStopBitsAndHardwareHandshake) {
    ASSERT_TRUE(port->Configure({9600, 0, 1, platform::RTS_CONTROL_ENABLE}));
    EXPECT_FALSE(SlaveState().twoStopBits);
    EXPECT_FALSE(SlaveState().hardwareFlow);
    ASSERT_TRUE(port->Configure({9600, 2, 1, platform::RTS_CONTROL_HANDSHAKE}));
    EXPECT_TRUE(SlaveState().twoStopBits);
    EXPECT_TRUE(SlaveState().hardwareFlow);
    // One and a half stop bits do not exist with eight data bits here; two is the safe side.
    ASSERT_TRUE(port->Configure({9600, 1, 1, platform::RTS_CONTROL_TOGGLE}));
    EXPECT_TRUE(SlaveState().twoStopBits);
    EXPECT_FALSE(SlaveState().hardwareFlow);
}

TEST_F(SerialPty, RefusesSettingsOutsideTheirRange) {
    ASSERT_TRUE(port->Configure({19200, 0, 1, 1}));
    EXPECT_FALSE(port->Configure({0, 0, 1, 1}));
    EXPECT_FALSE(port->Configure({9600, 3, 1, 1}));
    EXPECT_FALSE(port->Configure({9600, 0, 3, 1}));
    EXPECT_FALSE(port->Configure({9600, 0, 1, 4}));
    EXPECT_EQ(SlaveState().outputBaud, 19200u) << "a refused configuration left the line alone";
}

TEST_F(SerialPty, CarriesEveryByteValueBothWays) {
    ASSERT_TRUE(port->Configure({115200, 0, 1, 1}));
    const auto bytes = AllByteValues();
    ASSERT_TRUE(port->Write(bytes.data(), bytes.size()));
    EXPECT_EQ(pty.ReadMaster(bytes.size(), 3000ms), bytes);

    pty.WriteMaster(bytes);
    EXPECT_EQ(ReadFromPort(*port, bytes.size(), 3000ms), bytes);
    uint8_t extra;
    EXPECT_EQ(port->ReadNow(&extra, 1), 0) << "nothing more, and no waiting";
}

TEST_F(SerialPty, CountsAndPurgesInput) {
    ASSERT_TRUE(port->Configure({115200, 0, 1, 1}));
    EXPECT_EQ(port->InputQueueCount(), 0);
    pty.WriteMaster({1, 2, 3, 4, 5});
    ASSERT_TRUE(Eventually([&] { return port->InputQueueCount() == 5; }));
    EXPECT_EQ(port->WaitReadable(0), 1);
    EXPECT_TRUE(port->PurgeInput());
    EXPECT_EQ(port->InputQueueCount(), 0);
    uint8_t byte;
    EXPECT_EQ(port->ReadNow(&byte, 1), 0);
    EXPECT_GE(port->OutputQueueCount(), 0);
    EXPECT_TRUE(port->DrainOutput());
}

TEST_F(SerialPty, WakeEndsAWaitFromAnotherThread) {
    auto waiting = std::async(std::launch::async, [&] { return port->WaitReadable(10000); });
    std::this_thread::sleep_for(50ms);
    port->Wake();
    ASSERT_EQ(waiting.wait_for(5s), std::future_status::ready) << "Wake did not end the wait";
    EXPECT_EQ(waiting.get(), 0);
    // One wake ends one wait: the next one sees data again.
    pty.WriteMaster({42});
    EXPECT_EQ(port->WaitReadable(3000), 1);
}

TEST_F(SerialPty, WakeBeforeTheWaitIsNotLost) {
    port->Wake();
    EXPECT_EQ(port->WaitReadable(10000), 0);
}

TEST_F(SerialPty, WakeEndsAWriteStuckOnAFullLine) {
    ASSERT_TRUE(port->Configure({115200, 0, 1, 1}));
    // Nobody reads the master, so the terminal's buffers fill and the write has to wait.
    std::vector<uint8_t> lots(4 << 20, 0x55);
    auto writing =
        std::async(std::launch::async, [&] { return port->Write(lots.data(), lots.size()); });
    ASSERT_EQ(writing.wait_for(300ms), std::future_status::timeout) << "the buffers took 4 MiB";
    port->Wake();
    ASSERT_EQ(writing.wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(writing.get());
}

TEST_F(SerialPty, HangUpOfTheOtherSideIsAFailure) {
    // The port keeps the slave open; with the master gone the device is dead.
    pty.CloseMaster();
    const int waited = port->WaitReadable(3000);
    uint8_t byte;
    if (waited == 1)
        EXPECT_EQ(port->ReadNow(&byte, 1), -1);
    else
        EXPECT_EQ(waited, -1);
}

} // namespace
