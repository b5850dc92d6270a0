// The main window's texts about loads: the road for each combination of settings, the hint, and
// the last load's result for success, failure and cancel.
#include "load/LoadTexts.h"
#include "loader/LoaderErrors.h"
#include "platform/Serial.h"
#include "settings/Zepenvironment.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct RoadCase {
    const char *name;
    bool tcp;
    bool corvixSys;
    bool corvixLink;
    bool negotiationOff;
    const char *road;
    const char *line;
    const char *hint;
};

class LoadTextsRoadTest : public testing::TestWithParam<RoadCase> {
protected:
    // COM3 stands for a device of our choosing, whatever the machine's registry maps.
    void SetUp() override { platform::SetPortOverride(3, "/dev/ttyUSB0"); }
    void TearDown() override { platform::SetPortOverride(3, ""); }
};

Environment SettingsFor(const RoadCase &road) {
    Environment env;
    env.Comm.ComPort = 3;
    env.Comm.MaxNegotiatedBaud = 460800;
    env.BiosBaudRate = 115200;
    env.Comm.DisableBaudNegotiation = road.negotiationOff ? 1 : 0;
    env.Comm.UseTCP = road.tcp ? 1 : 0;
    env.LoadThroughCorvixSys = road.corvixSys ? 1 : 0;
    env.Comm.UseCorvixLink = road.corvixLink ? 1 : 0;
    env.Comm.UseCorvixSys = road.corvixLink ? 0 : 1;
    std::strcpy(env.Comm.CorvixLinkAddress, "192.168.1.50");
    env.Comm.CorvixLinkTcpPort = 4244;
    std::strcpy(env.Comm.CorvixSysAddress, "192.168.1.60");
    env.Comm.CorvixSysTcpPort = 65023;
    return env;
}

TEST_P(LoadTextsRoadTest, NamesTheRoadWhereItGoesAndWhatToDo) {
    const RoadCase &road = GetParam();
    const Environment env = SettingsFor(road);
    EXPECT_EQ(RoadOf(env).Road, road.road);
    EXPECT_EQ(RoadLine(env), road.line);
    EXPECT_EQ(LoadHint(env), road.hint);
}

constexpr const char *BinHint = "Drop a .bin file here, or File > Load Flash Image...";
constexpr const char *UplHint = "Drop a .upl file here, or File > Load Flash Image...";

INSTANTIATE_TEST_SUITE_P(
    EveryRoad, LoadTextsRoadTest,
    testing::Values(RoadCase{"SerialNegotiated", false, false, true, false, "serial",
                             "Serial COM3 (/dev/ttyUSB0), up to 460800 baud", BinHint},
                    RoadCase{"SerialFixedRate", false, false, true, true, "serial",
                             "Serial COM3 (/dev/ttyUSB0) at 115200 baud", BinHint},
                    RoadCase{"CorvixLink", true, false, true, false, "CorvixLink",
                             "CorvixLink 192.168.1.50:4244", BinHint},
                    RoadCase{"CorvixSysConsole", true, true, false, false, "CorvixSys console",
                             "CorvixSys console 192.168.1.60:65023", UplHint},
                    RoadCase{"CorvixSysSerial", false, true, false, false, "CorvixSys serial",
                             "CorvixSys over serial COM3 (/dev/ttyUSB0) at 115200 baud", UplHint}),
    [](const testing::TestParamInfo<RoadCase> &param) { return std::string(param.param.name); });

TEST(LoadTextsTest, LastLoadSaysHowItEndedWithTheFileNameOnly) {
    LoadOutcome success;
    success.ElapsedMs = 12345;
    EXPECT_EQ(LastLoadText("/data/images/demo.bin", success),
              "Last load: demo.bin went through in 12.345 seconds.");

    LoadOutcome failure;
    failure.Code = LoaderErrorSerialOpen;
    failure.Message = ErrorMessage(LoaderErrorSerialOpen);
    failure.Detail = "COM3 (/dev/ttyUSB0): Permission denied";
    EXPECT_EQ(LastLoadText("/data/demo.bin", failure),
              "Last load: demo.bin failed: " + failure.Message + "\n" + failure.Detail);
    failure.Detail.clear();
    EXPECT_EQ(LastLoadText("/data/demo.bin", failure),
              "Last load: demo.bin failed: " + failure.Message);

    LoadOutcome cancelled;
    cancelled.Code = LoaderErrorCancelled;
    cancelled.Message = ErrorMessage(LoaderErrorCancelled);
    EXPECT_EQ(LastLoadText("demo.upl", cancelled), "Last load: demo.upl: " + cancelled.Message);
}

TEST(LoadTextsTest, ElapsedSecondsInTheShortestForm) {
    EXPECT_EQ(FormatElapsedSeconds(12345), "12.345");
    EXPECT_EQ(FormatElapsedSeconds(7000), "7");
    EXPECT_EQ(FormatElapsedSeconds(500), "0.5");
    EXPECT_EQ(FormatElapsedSeconds(0), "0");
}

} // namespace
