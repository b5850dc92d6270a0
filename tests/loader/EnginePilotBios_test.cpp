// The pilot BIOS upload over a real serial connection on a pseudo-terminal, played against a
// cold loader that echoes the header checksum and answers the upload checksum; and the
// baud-rate request that the pilot BIOS then accepts or refuses.
#include "EngineTestSupport.h"

#include "load/ImageFiles.h"
#include "loader/LoaderPayloads.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace enginetest;

namespace {

using Bytes = std::vector<uint8_t>;

// A prefix that is never sent, the marker, and a payload.
const Bytes Prefix = {'P', 'R', 'E', 0x1A};
const Bytes Payload = {'p', 'i', 'l', 'o', 't', 0x00, 0x7E, 0x7D, 0xCC, 0xFF};

Bytes PilotFile() {
    Bytes file = Prefix;
    file.push_back(0xCC);
    file.insert(file.end(), Payload.begin(), Payload.end());
    return file;
}

class PilotBiosTest : public EngineTest {
protected:
    int32_t Upload(const Bytes &file, int32_t baudRate = 57600) {
        ConnectAt(9600, 0);
        const std::string path = WriteTempFile("pilot.bin", file);
        return LoaderErrorOf([&] { engine->SendPilotBios(path, baudRate); });
    }
};

TEST_F(PilotBiosTest, SendsHeaderMarkerAndPayloadAtTheGivenRate) {
    StartBoard(PilotBoard(Echo::Right, UploadAnswer::Right));
    ASSERT_EQ(Upload(PilotFile()), 0);
    const PilotHeader header = BuildPilotHeader(0x4000, static_cast<uint16_t>(Payload.size() + 1));
    Bytes expected(header.begin(), header.end());
    expected.push_back(0xCC);
    expected.insert(expected.end(), Payload.begin(), Payload.end());
    EXPECT_EQ(board->Received(), expected);
    EXPECT_EQ(pty.SlaveBaud(), 57600u);
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(PilotBiosTest, MarkerAsLastByteSendsNoPayload) {
    // Length 1: the board's checksum over nothing is the start value itself.
    StartBoard(PilotBoard(Echo::Right, UploadAnswer::Right));
    ASSERT_EQ(Upload({0x01, 0x02, 0xCC}), 0);
    const PilotHeader header = BuildPilotHeader(0x4000, 1);
    Bytes expected(header.begin(), header.end());
    expected.push_back(0xCC);
    EXPECT_EQ(board->Received(), expected);
}

TEST_F(PilotBiosTest, WrongEchoStopsBeforeTheMarker) {
    StartBoard(PilotBoard(Echo::Wrong, UploadAnswer::Right));
    EXPECT_EQ(Upload(PilotFile()), LoaderErrorPilotBiosSend);
    EXPECT_FALSE(board->WaitReceived(PilotHeaderSize + 1, 100));
    EXPECT_EQ(board->Received().size(), PilotHeaderSize);
}

TEST_F(PilotBiosTest, NoEchoIsAReadFailure) {
    StartBoard(PilotBoard(Echo::None, UploadAnswer::Right));
    EXPECT_EQ(Upload(PilotFile()), LoaderErrorCommunication);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Error reading bytes"});
}

TEST_F(PilotBiosTest, WrongUploadChecksumIsNotAcknowledged) {
    StartBoard(PilotBoard(Echo::Right, UploadAnswer::Wrong));
    EXPECT_EQ(Upload(PilotFile()), LoaderErrorPilotBiosSend);
    // The whole payload went out; it was the answer that was wrong.
    EXPECT_EQ(board->Received().size(), PilotHeaderSize + 1 + Payload.size());
}

TEST_F(PilotBiosTest, MissingOrMarkerlessFilesAreRefused) {
    StartBoard(SilentBoard());
    EXPECT_EQ(Upload({0x01, 0x02, 0x03}), LoaderErrorPilotBiosSendOpen);
    EXPECT_EQ(LoaderErrorOf([&] { engine->SendPilotBios("/nonexistent/pilot.bin", 57600); }),
              LoaderErrorPilotBiosSendOpen);
    EXPECT_EQ(LoaderErrorOf([&] { engine->SendPilotBios("", 57600); }),
              LoaderErrorPilotBiosSendOpen);
    EXPECT_FALSE(board->WaitReceived(1, 50));
}

TEST_F(PilotBiosTest, UsbConverterPauseComesBeforeTheUpload) {
    StartBoard(PilotBoard(Echo::Right, UploadAnswer::Right));
    engine->SetUsbSerialDelay(1, 300);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Upload(PilotFile()), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    uint8_t flag = 0;
    int32_t delay = 0;
    engine->GetUsbSerialDelay(flag, delay);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(delay, 300);
}

TEST(PilotBiosLength, NullFileIsNine) {
    LoaderEngine engine;
    uint16_t length = 0;
    EXPECT_EQ(LoaderErrorOf([&] { engine.GetPilotBiosLength(nullptr, length); }),
              LoaderErrorPilotBiosSendOpen);
}

TEST(PilotBiosLength, CountsFromTheMarkerAndLeavesTheFileAfterIt) {
    LoaderEngine engine;
    const FileHandle file = OpenForReading(WriteTempFile("pilot.bin", PilotFile()));
    ASSERT_TRUE(file);
    uint16_t length = 0;
    engine.GetPilotBiosLength(file.get(), length);
    EXPECT_EQ(length, Payload.size() + 1);
    EXPECT_EQ(std::fgetc(file.get()), Payload[0]);
}

class BaudRateTest : public EngineTest {};

TEST_F(BaudRateTest, AcceptedIsTrueAndCarriesTheRate) {
    PacketBoard pilot(AckAll());
    StartBoard(pilot.AsResponder());
    ConnectAt(57600, 1);
    EXPECT_TRUE(engine->SetTargetBaudRate(460800));
    const std::vector<sim::Frame> requests = pilot.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].type, 0);
    EXPECT_EQ(requests[0].subtype, 6);
    EXPECT_EQ(requests[0].payload, (Bytes{0x00, 0x08, 0x07, 0x00}));
}

TEST_F(BaudRateTest, RefusedIsFalse) {
    PacketBoard pilot(NakAll());
    StartBoard(pilot.AsResponder());
    ConnectAt(57600, 1);
    EXPECT_FALSE(engine->SetTargetBaudRate(460800));
}

TEST_F(BaudRateTest, SilenceIsATimeout) {
    StartBoard(SilentBoard());
    ConnectAt(57600, 1);
    EXPECT_EQ(LoaderErrorOf([&] { engine->SetTargetBaudRate(460800); }), LoaderErrorTimeout);
}

TEST_F(BaudRateTest, CancelDuringTheWaitIsTwenty) {
    StartBoard(SilentBoard());
    CommOptions options = SerialOptions(57600);
    options.SerialResponseTimeout = 5000;
    ConnectAt(57600, 1, options);
    window.Run([this] { engine->CancelTransfer(); });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(LoaderErrorOf([&] { engine->SetTargetBaudRate(460800); }), LoaderErrorCancelled);
    EXPECT_TRUE(window.ActionRan());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4000));
    EXPECT_TRUE(messages.Texts().empty());
}

} // namespace
