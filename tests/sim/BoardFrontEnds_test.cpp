// The simulated board behind corvix-sim's front ends, reached through the product's own serial
// ports and driven the way the loader drives a real board: DTR pulse, triplets at 2400 baud with
// the loader's DSR samples, the pilot BIOS upload, then packets and a rate change.
#include "BoardSupport.h"
#include "PtyFrontEnd.h"
#include "Rfc2217Server.h"

#include "platform/Serial.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace boardtest;
using namespace std::chrono_literals;

// DSR as the loader samples it; unknown lines read as low.
bool Dsr(platform::SerialPort &port) {
    uint32_t status = 0;
    return port.GetModemStatus(&status) && (status & platform::MS_DSR_ON);
}

// The loader's cold-load stage: reset pulse, triplets, DSR sampled 30 ms after the start triplet
// and 100 ms after the about-to-end triplet. Returns the two samples.
std::pair<bool, bool> ColdLoad(platform::SerialPort &port) {
    const ColdLoadWire cold = ColdLoadBytes(ReadSample("coldload.bin"));
    EXPECT_TRUE(Configure(port, 2400, true));
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(Configure(port, 2400, false));
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(Write(port, cold.start));
    std::this_thread::sleep_for(30ms);
    const bool first = Dsr(port);
    EXPECT_TRUE(Write(port, cold.data));
    EXPECT_TRUE(Write(port, cold.aboutToEnd));
    std::this_thread::sleep_for(100ms);
    const bool second = Dsr(port);
    EXPECT_TRUE(Write(port, cold.end));
    return {first, second};
}

// The pilot BIOS stage at 57600: returns the echo and the two checksum bytes.
Bytes UploadPilot(platform::SerialPort &port) {
    const PilotWire pilot = PilotBytes(ReadSample("pilot.bin"));
    EXPECT_TRUE(Configure(port, 57600, false));
    EXPECT_TRUE(Write(port, pilot.header));
    Bytes answer = ReadBytes(port, 1, 2000ms);
    if (answer != Bytes{0x48}) return answer;
    EXPECT_TRUE(Write(port, pilot.markerAndPayload));
    const Bytes checksum = ReadBytes(port, 2, 3000ms);
    answer.insert(answer.end(), checksum.begin(), checksum.end());
    return answer;
}

TEST(BoardOverRfc2217, BootstrapsNegotiatesAndWritesLikeTheLoaderExpects) {
    sim::BoardPeer board;
    sim::Rfc2217Server server(board, {0, false, true});
    ASSERT_TRUE(server.Start());
    auto port = OpenPort(server.Url());
    ASSERT_NE(port, nullptr);

    const auto [first, second] = ColdLoad(*port);
    EXPECT_NE(first, second) << "DSR must have changed between the loader's samples";
    EXPECT_EQ(UploadPilot(*port), (Bytes{0x48, 0xE6, 0x96}));
    ASSERT_TRUE(board.WaitForState(sim::BoardState::PilotBios, 2000ms));

    auto info = Ask(*port, sim::sys::InfoProbe, {});
    ASSERT_EQ(info.size(), 1u);
    EXPECT_EQ(info[0].payload.size(), 175u);

    // The session's negotiation: the board accepts 460800 over the line at 57600...
    auto accepted = Ask(*port, sim::sys::SetBaudRate, Le32(460800));
    ASSERT_EQ(accepted.size(), 1u);
    EXPECT_EQ(accepted[0].subtype, 0x86);
    // ...after which a request at the old rate gets no sensible answer...
    EXPECT_TRUE(Ask(*port, sim::sys::InfoProbe, {}, 300ms).empty());
    // ...and one at the new rate does.
    ASSERT_TRUE(Configure(*port, 460800, false));
    info = Ask(*port, sim::sys::InfoProbe, {});
    ASSERT_EQ(info.size(), 1u);
    EXPECT_EQ(info[0].subtype, 0x84);

    auto written = Ask(*port, sim::sys::Write, WritePayload(0x80000, {0x7E, 0x7D, 0x00}));
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0].subtype, 0x83);
    EXPECT_EQ(board.ReadFlash(0x80000, 3), (Bytes{0x7E, 0x7D, 0x00}))
        << "stuffed bytes arrive intact";

    // The server saw the reset pulse the board acted on.
    bool sawDtrOn = false, sawDtrOffAfter = false;
    for (const auto &event : server.LineEvents()) {
        if (event.kind == sim::LineEventKind::Dtr && event.value == 1)
            sawDtrOn = true;
        else if (event.kind == sim::LineEventKind::Dtr && sawDtrOn)
            sawDtrOffAfter = true;
    }
    EXPECT_TRUE(sawDtrOn && sawDtrOffAfter);
}

TEST(BoardOverPseudoTerminal, BootstrapsWithoutModemLines) {
    sim::BoardOptions options;
    options.hasModemLines = false;
    sim::BoardPeer board(options);
    sim::PtyFrontEnd frontEnd(board, {false});
    std::string why;
    ASSERT_TRUE(frontEnd.Start(&why)) << why;
    auto port = OpenPort(frontEnd.SlavePath());
    ASSERT_NE(port, nullptr);

    // No DTR to pulse: the start triplet alone begins the bootstrap.
    const ColdLoadWire cold = ColdLoadBytes(ReadSample("coldload.bin"));
    ASSERT_TRUE(Configure(*port, 2400, false));
    for (const Bytes *part : {&cold.start, &cold.data, &cold.aboutToEnd, &cold.end})
        ASSERT_TRUE(Write(*port, *part));
    ASSERT_TRUE(board.WaitForState(sim::BoardState::PilotUpload, 2000ms));
    EXPECT_EQ(UploadPilot(*port), (Bytes{0x48, 0xE6, 0x96}));
    EXPECT_EQ(board.BoardRate(), 57600u) << "the rate came from the terminal settings";
    auto info = Ask(*port, sim::sys::InfoProbe, {});
    ASSERT_EQ(info.size(), 1u);
    EXPECT_EQ(info[0].payload.size(), 175u);
}

} // namespace
