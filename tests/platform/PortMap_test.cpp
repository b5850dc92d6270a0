// COM numbers to devices: the built-in ranges and the registry's Ports key in front of them.
#include "SerialTestSupport.h"

#include "PacketPeer.h"
#include "Rfc2217Server.h"
#include "platform/Registry.h"
#include "platform/Serial.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

using namespace serialtest;

namespace {

class PortMap : public ::testing::Test {
protected:
    void SetUp() override {
        registryFile = std::filesystem::temp_directory_path() /
                       ("tarnwick-portmap-" + std::to_string(::getpid()) + ".reg");
        std::filesystem::remove(registryFile);
        ::setenv("TARNWICK_REGISTRY", registryFile.c_str(), 1);
        platform::ReloadRegistry();
    }
    void TearDown() override {
        std::filesystem::remove(registryFile);
        std::filesystem::remove(registryFile.string() + ".lock");
        ::unsetenv("TARNWICK_REGISTRY");
        platform::ReloadRegistry();
    }
    static platform::RegKey Ports() { return platform::RegKey("Software\\Vexlon\\ZEP\\Ports"); }

    std::filesystem::path registryFile;
};

TEST_F(PortMap, DefaultRangesFollowTheDeviceFamilies) {
    EXPECT_EQ(platform::MapComPort(1), "/dev/ttyS0");
    EXPECT_EQ(platform::MapComPort(32), "/dev/ttyS31");
    EXPECT_EQ(platform::MapComPort(33), "/dev/ttyUSB0");
    EXPECT_EQ(platform::MapComPort(64), "/dev/ttyUSB31");
    EXPECT_EQ(platform::MapComPort(65), "/dev/ttyACM0");
    EXPECT_EQ(platform::MapComPort(96), "/dev/ttyACM31");
    EXPECT_EQ(platform::MapComPort(97), "/dev/ttyS96");
    EXPECT_EQ(platform::MapComPort(0), "");
    EXPECT_EQ(platform::MapComPort(-3), "");
}

TEST_F(PortMap, RegistryEntryOverridesItsPortOnly) {
    Ports().SetString("COM3", "/dev/ttyUSB7");
    Ports().SetString("com40", "rfc2217://127.0.0.1:4000"); // value names match without case
    EXPECT_EQ(platform::MapComPort(3), "/dev/ttyUSB7");
    EXPECT_EQ(platform::MapComPort(40), "rfc2217://127.0.0.1:4000");
    EXPECT_EQ(platform::MapComPort(4), "/dev/ttyS3");
}

TEST_F(PortMap, EntriesThatAreNotTextMapNothing) {
    Ports().SetDword("COM5", 7);
    Ports().SetString("COM6", "");
    EXPECT_EQ(platform::MapComPort(5), "/dev/ttyS4");
    EXPECT_EQ(platform::MapComPort(6), "/dev/ttyS5");
}

TEST_F(PortMap, DefaultComNumberIsTheInverseOfTheBuiltInRanges) {
    for (int comPort = 1; comPort <= 200; ++comPort)
        EXPECT_EQ(platform::DefaultComPortOf(platform::MapComPort(comPort)), comPort) << comPort;
    // ttyS32-95 lie under the USB and ACM ranges; numbers past a range and other names have none.
    for (const char *device : {"/dev/ttyS32", "/dev/ttyS95", "/dev/ttyUSB32", "/dev/ttyACM32",
                               "/dev/ttyS01", "/dev/ttyS", "/dev/ttyS1x", "/dev/pts/3", "ttyS1",
                               "/dev/ttyS99999999999", "rfc2217://127.0.0.1:4000"})
        EXPECT_EQ(platform::DefaultComPortOf(device), 0) << device;
}

TEST_F(PortMap, MappingEntriesAreTheTextValuesNamedComN) {
    Ports().SetString("COM3", "/dev/ttyUSB7");
    Ports().SetString("com12", "rfc2217://127.0.0.1:4000");
    Ports().SetString("COM007", "/dev/ttyUSB1"); // the map asks for "COM7", never "COM007"
    Ports().SetString("COM0", "/dev/ttyUSB2");
    Ports().SetString("COMx", "/dev/ttyUSB3");
    Ports().SetString("COM4", "");
    Ports().SetDword("COM5", 7);
    Ports().SetString("Printer", "/dev/usb/lp0");

    const auto mappings = platform::MappedComPorts();
    ASSERT_EQ(mappings.size(), 2u);
    EXPECT_EQ(mappings[0].comPort, 3);
    EXPECT_EQ(mappings[0].device, "/dev/ttyUSB7");
    EXPECT_EQ(mappings[1].comPort, 12);
    EXPECT_EQ(mappings[1].device, platform::MapComPort(12));
    EXPECT_EQ(platform::MapComPort(7), "/dev/ttyS6");
}

TEST_F(PortMap, OpensThroughTheMap) {
    PtyPair pty;
    sim::PacketPeer peer;
    sim::Rfc2217Server server(peer);
    ASSERT_TRUE(server.Start());
    Ports().SetString("COM150", pty.SlavePath());
    Ports().SetString("COM151", server.Url());
    Ports().SetString("COM152", "/dev/ttyNoSuchAdapter3");

    platform::SerialError error;
    auto local = platform::OpenSerialPort(150, &error);
    ASSERT_NE(local, nullptr) << error.description;
    EXPECT_EQ(local->DeviceName(), pty.SlavePath());
    auto remote = platform::OpenSerialPort(151, &error);
    ASSERT_NE(remote, nullptr) << error.description;
    EXPECT_TRUE(server.WaitForClient(3000ms));
    EXPECT_EQ(platform::OpenSerialPort(152, &error), nullptr);
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_EQ(platform::OpenSerialPort(0, &error), nullptr);
}

} // namespace
