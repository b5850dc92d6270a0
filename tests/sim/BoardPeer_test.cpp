// The simulated board on its own, driven byte by byte and line change by line change as a front
// end would drive it, with a host link that keeps what it sends back.
#include "BoardSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace boardtest;
using sim::BoardState;

Bytes Concat(std::initializer_list<const Bytes *> parts) {
    Bytes all;
    for (const Bytes *part : parts) all.insert(all.end(), part->begin(), part->end());
    return all;
}

// ---- Bootstrap and cold load ----

TEST(BoardBootstrap, DtrPulseEntersBootstrapAndTheAboutToEndTripletTogglesDsr) {
    DirectBoard b;
    const ColdLoadWire cold = ColdLoadBytes(ReadSample("coldload.bin"));
    b.SetRate(2400);
    b.Feed(cold.start); // before any reset the board runs its own program and ignores it
    EXPECT_EQ(b.board.State(), BoardState::Idle);

    b.SetDtr(true);
    EXPECT_EQ(b.board.State(), BoardState::Reset);
    b.Feed(cold.start); // held in reset: nothing listens
    b.SetDtr(false);
    EXPECT_EQ(b.board.State(), BoardState::Bootstrap);

    b.Feed(cold.start);
    b.Feed(cold.data);
    EXPECT_EQ(b.board.State(), BoardState::ColdLoading);
    EXPECT_FALSE(b.link.Dsr()) << "DSR must not move before the loader's first sample";
    b.Feed(cold.aboutToEnd);
    EXPECT_TRUE(b.link.Dsr());
    EXPECT_TRUE(b.board.DsrOn());
    b.Feed(cold.end);
    EXPECT_TRUE(b.link.Dsr()) << "the end triplet does not toggle a second time";
    EXPECT_EQ(b.board.State(), BoardState::PilotUpload);
    EXPECT_TRUE(b.link.sent.empty());

    // The data triplets were grouped by position: the sample's text sits at 0x2000.
    const std::string text = "corvix-sim cold loader (Tarnwick sample)";
    const Bytes ram = b.board.ReadRam(0x2000, text.size());
    EXPECT_EQ(std::string(ram.begin(), ram.end()), text);

    // A second load toggles back: the loader only compares its two samples.
    b.PulseDtr();
    b.Feed(Concat({&cold.start, &cold.data, &cold.aboutToEnd, &cold.end}));
    EXPECT_FALSE(b.link.Dsr());
    EXPECT_EQ(b.board.CountEvents("dsr"), 2u);
}

TEST(BoardBootstrap, EndTripletAloneStillRunsTheColdLoader) {
    DirectBoard b;
    b.PulseDtr();
    b.Feed({0x80, 0x0E, 0x20, 0x80, 0x24, 0x80});
    EXPECT_TRUE(b.link.Dsr());
    EXPECT_EQ(b.board.State(), BoardState::PilotUpload);
}

TEST(BoardBootstrap, NoProcessorKeepsDsrStillAndAnswersNothing) {
    sim::BoardOptions options;
    options.noProcessor = true;
    DirectBoard b(options);
    const ColdLoadWire cold = ColdLoadBytes(ReadSample("coldload.bin"));
    b.PulseDtr();
    b.Feed(Concat({&cold.start, &cold.data, &cold.aboutToEnd, &cold.end}));
    b.Feed(PilotBytes(ReadSample("pilot.bin")).header);
    EXPECT_FALSE(b.link.Dsr());
    EXPECT_TRUE(b.link.sent.empty());
    EXPECT_EQ(b.board.State(), BoardState::Idle);
    EXPECT_EQ(b.board.CountEvents("dsr"), 0u);
}

// ---- Pilot BIOS upload ----

TEST(BoardPilotUpload, SamplePilotIsEchoedAndItsChecksumAnswered) {
    DirectBoard b;
    b.SetRate(2400);
    b.PulseDtr();
    const ColdLoadWire cold = ColdLoadBytes(ReadSample("coldload.bin"));
    b.Feed(Concat({&cold.start, &cold.data, &cold.aboutToEnd, &cold.end}));
    b.SetRate(57600);
    const PilotWire pilot = PilotBytes(ReadSample("pilot.bin"));
    ASSERT_EQ(pilot.header, (Bytes{0x00, 0x40, 0x00, 0x00, 0x00, 0x08, 0x48}));
    b.Feed(pilot.header);
    EXPECT_EQ(b.link.Take(), Bytes{0x48});
    // Split the payload to show the board counts bytes, not deliveries.
    const Bytes &upload = pilot.markerAndPayload;
    b.Feed(Bytes(upload.begin(), upload.begin() + 1000));
    EXPECT_TRUE(b.link.sent.empty());
    EXPECT_EQ(b.board.State(), BoardState::PilotUpload);
    b.Feed(Bytes(upload.begin() + 1000, upload.end()));
    EXPECT_EQ(b.link.Take(), (Bytes{0xE6, 0x96}));
    EXPECT_EQ(b.board.State(), BoardState::PilotBios);
    EXPECT_EQ(b.board.BoardRate(), 57600u) << "the pilot BIOS keeps the rate of its upload";
}

TEST(BoardPilotUpload, UploadChecksumStartsAfterTheMarker) {
    EXPECT_EQ(sim::PilotChecksum(reinterpret_cast<const uint8_t *>("abc"), 3), 0xF37F);
    // A length of 1 is the marker alone: the answer is the starting value.
    DirectBoard b;
    b.PulseDtr();
    b.Feed({0x80, 0x0E, 0x20, 0x80, 0x24, 0x80});
    b.Feed({0x00, 0x40, 0x00, 0x00, 0x01, 0x00, 0x41, 0xCC});
    EXPECT_EQ(b.link.Take(), (Bytes{0x41, 0xCC, 0xCC}));
    EXPECT_EQ(b.board.State(), BoardState::PilotBios);
}

TEST(BoardPilotUpload, WrongOrEmptyHeadersAreRefusedAndAGoodOneStillWorks) {
    DirectBoard b;
    b.PulseDtr();
    b.Feed({0x80, 0x0E, 0x20, 0x80, 0x24, 0x80});
    // Wrong sum: the board echoes the sum it computed, which is not the byte sent.
    b.Feed({0x00, 0x40, 0x00, 0x00, 0x00, 0x08, 0x49});
    EXPECT_EQ(b.link.Take(), Bytes{0x48});
    // Right sum, zero length: no upload can be that short.
    b.Feed({0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x40});
    EXPECT_EQ(b.link.Take(), Bytes{0xBF});
    // A good header followed by something else than the marker waits for a header again.
    b.Feed({0x00, 0x40, 0x00, 0x00, 0x02, 0x00, 0x42});
    EXPECT_EQ(b.link.Take(), Bytes{0x42});
    b.Feed({0x55});
    EXPECT_EQ(b.board.CountEvents("pilot-marker-missing"), 1u);
    b.Feed({0x00, 0x40, 0x00, 0x00, 0x02, 0x00, 0x42, 0xCC, 'a'});
    EXPECT_EQ(b.link.Take(), (Bytes{0x42, 0xFA, 0x2E}));
    EXPECT_EQ(b.board.State(), BoardState::PilotBios);

    const auto events = b.board.Events();
    const auto refused =
        std::find_if(events.begin(), events.end(), [](const sim::TranscriptEvent &e) {
            return e.Name() == "pilot-header" && e.Flag("ok") == false;
        });
    ASSERT_NE(refused, events.end());
    EXPECT_EQ(refused->Text("checksum"), "0x49");
    EXPECT_EQ(refused->Text("computed"), "0x48");
}

// ---- Without modem lines ----

TEST(BoardWithoutModemLines, StartsInBootstrapAndTheStartTripletBeginsANewOne) {
    sim::BoardOptions options;
    options.hasModemLines = false;
    DirectBoard b(options);
    EXPECT_EQ(b.board.State(), BoardState::Bootstrap);
    b.Feed({0x00, 0x80, 0x0E, 0x20, 0x80, 0x0E, 0x30, 0x80, 0x24, 0x80}); // a stray byte first
    EXPECT_EQ(b.board.State(), BoardState::PilotUpload);
    EXPECT_TRUE(b.board.DsrOn());

    // A load given up before its pilot header: the next one starts over.
    b.Feed({0x80, 0x0E, 0x20});
    EXPECT_EQ(b.board.State(), BoardState::ColdLoading);
    b.Feed({0x80, 0x0E, 0x30, 0x80, 0x24, 0x80, 0x00, 0x40, 0x00, 0x00, 0x01, 0x00, 0x41, 0xCC});
    EXPECT_EQ(b.board.State(), BoardState::PilotBios);

    // A running pilot BIOS takes the triplet as line noise; after STARTBIOS it is heard again.
    b.Feed({0x80, 0x0E, 0x20});
    EXPECT_EQ(b.board.State(), BoardState::PilotBios);
    EXPECT_TRUE(b.Request(0, sim::sys::StartBios, {2}).empty());
    EXPECT_EQ(b.board.State(), BoardState::BiosRunning);
    b.Feed({0x80, 0x0E, 0x20});
    EXPECT_EQ(b.board.State(), BoardState::ColdLoading);
}

TEST(BoardWithoutModemLines, ARunningBiosBehindDtrIgnoresTheStartTriplet) {
    DirectBoard b;
    b.BootToPilot();
    b.Request(0, sim::sys::StartBios, {2});
    b.Feed({0x80, 0x0E, 0x20});
    EXPECT_EQ(b.board.State(), BoardState::BiosRunning);
    b.PulseDtr();
    EXPECT_EQ(b.board.State(), BoardState::Bootstrap);
}

// ---- Packets ----

class BoardPackets : public ::testing::Test {
protected:
    void SetUp() override { b.BootToPilot(); }
    // The one reply to a request; fails the test when there is not exactly one.
    sim::Frame One(uint8_t code, const Bytes &payload = {}, uint8_t type = 0) {
        auto frames = b.Request(type, code, payload);
        EXPECT_EQ(frames.size(), 1u) << "request code " << int(code);
        return frames.empty() ? sim::Frame{0xFF, 0xFF, {}} : frames[0];
    }
    DirectBoard b;
};

TEST_F(BoardPackets, InfoProbeReplyLayout) {
    const sim::Frame reply = One(sim::sys::InfoProbe);
    EXPECT_EQ(reply.type, 0);
    EXPECT_EQ(reply.subtype, 0x84);
    const Bytes &p = reply.payload;
    ASSERT_EQ(p.size(), 175u);
    EXPECT_EQ(Bytes(p.begin(), p.begin() + 4), Le32(0x4000)) << "the pilot BIOS's load address";
    EXPECT_EQ(p[4], 0xBF);
    EXPECT_EQ(p[5], 0x00);
    EXPECT_EQ(p[6], sim::InfoRevision);
    EXPECT_EQ(p[8] | p[9] << 8, sim::InfoRamKiB);
    const uint8_t *id = p.data() + sim::IdBlockOffset;
    EXPECT_EQ(id[2] | id[3] << 8, 0x2A01) << "product ID";
    EXPECT_EQ(id[13] | id[14] << 8, 0x00BF) << "the block's flash ID agrees";
    EXPECT_EQ(id[155] | id[156] << 8, sim::Fletcher8(id, 155)) << "idBlockCRC";
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(id + 157)), "CVXID");

    sim::BoardOptions options;
    options.flashId = 0x01A4;
    options.productId = 0x1234;
    DirectBoard other(options);
    other.BootToPilot();
    const Bytes q = other.Request(0, sim::sys::InfoProbe)[0].payload;
    EXPECT_EQ(q[4] | q[5] << 8, 0x01A4);
    EXPECT_EQ(q[sim::IdBlockOffset + 2] | q[sim::IdBlockOffset + 3] << 8, 0x1234);
}

TEST_F(BoardPackets, NoopAckAndUnknownCodesNak) {
    EXPECT_EQ(One(sim::sys::Noop).subtype, 0x81);
    const sim::Frame unknown = One(2, {0, 0});
    EXPECT_EQ(unknown.subtype, 0x42);
    EXPECT_TRUE(unknown.payload.empty());
    const sim::Frame debug = One(24, {}, 1);
    EXPECT_EQ(debug.type, 1);
    EXPECT_EQ(debug.subtype, 0x58);
    // A frame with a reply bit set is not a request: nothing answers it.
    EXPECT_TRUE(b.Request(0, 0x81).empty());
    // A damaged frame is dropped, and the next good one is answered.
    Bytes damaged = sim::EncodeFrame({0, sim::sys::Noop, {}});
    damaged.back() ^= 0x01;
    b.Feed(damaged);
    EXPECT_EQ(One(sim::sys::Noop).subtype, 0x81);
    EXPECT_EQ(b.board.CountEvents("bad-frame"), 1u);
}

TEST_F(BoardPackets, FlashDataEraseAndWrite) {
    EXPECT_EQ(One(sim::sys::FlashData, {0x00, 0x10, 0x80, 0x00, 0x00, 0x02, 0x02, 0x00}).subtype,
              0x8A);
    const auto geometry = b.board.Geometry();
    ASSERT_TRUE(geometry);
    EXPECT_EQ(geometry->sectorSize, 4096);
    EXPECT_EQ(geometry->sectors, 128);
    EXPECT_EQ(geometry->flashSize, 512);
    EXPECT_EQ(geometry->writeMode, 2);
    EXPECT_EQ(One(sim::sys::FlashData, {1, 2, 3}).subtype, 0x4A);

    const Bytes image = ReadSample("demo-image.bin");
    for (uint32_t offset : {0u, 128u, 256u})
        EXPECT_EQ(One(sim::sys::Write,
                      WritePayload(0x80000 + offset,
                                   Bytes(image.begin() + offset, image.begin() + offset + 128)))
                      .subtype,
                  0x83);
    EXPECT_EQ(b.board.ReadFlash(0x80000, 384), Bytes(image.begin(), image.begin() + 384));
    EXPECT_EQ(b.board.ReadFlash(0x80180, 1), Bytes{0xFF});
    // The last byte of the space is writable.
    EXPECT_EQ(One(sim::sys::Write, WritePayload(0xFFFFF, {0x5A})).subtype, 0x83);

    // Erase from the window's start up to (not including) the value.
    EXPECT_EQ(One(sim::sys::EraseFlash, Le32(0x80100)).subtype, 0x89);
    EXPECT_EQ(b.board.ReadFlash(0x80000, 256), Bytes(256, 0xFF));
    EXPECT_EQ(b.board.ReadFlash(0x80100, 128), Bytes(image.begin() + 256, image.begin() + 384));
    EXPECT_EQ(One(sim::sys::EraseFlash, Le32(0xFFFFFFFF)).subtype, 0x89) << "clamped to the flash";
    EXPECT_EQ(b.board.ReadFlash(0xFFFFF, 1), Bytes{0xFF});
    EXPECT_EQ(One(sim::sys::EraseFlash, {0, 0}).subtype, 0x49);
}

TEST_F(BoardPackets, MalformedWritesAreRefusedAndChangeNothing) {
    Bytes lengthTooShort = WritePayload(0x80000, {1, 2, 3, 4});
    lengthTooShort[1] = 5; // says 5 data bytes, carries 4
    Bytes lengthTooLong = WritePayload(0x80000, {1, 2, 3, 4});
    lengthTooLong[1] = 3;
    const std::vector<Bytes> malformed{
        {},
        {0, 4, 0, 0, 0, 8}, // shorter than its own header
        lengthTooShort,
        lengthTooLong,
        WritePayload(0x80000, {1, 2}, 1), // not a physical address
        WritePayload(0xFFFFF, {1, 2}),    // one byte past the end
        WritePayload(0xFFFFFFFF, {1}),    // an address that would wrap
    };
    for (const Bytes &payload : malformed)
        EXPECT_EQ(One(sim::sys::Write, payload).subtype, 0x43) << ::testing::PrintToString(payload);
    EXPECT_EQ(b.board.ReadFlash(0x80000, 4), Bytes(4, 0xFF));
    EXPECT_EQ(b.board.ReadFlash(0xFFFFF, 1), Bytes{0xFF});
}

TEST_F(BoardPackets, StartBiosIsRecordedAndNotAnswered) {
    EXPECT_TRUE(b.Request(0, sim::sys::StartBios, {}).empty()) << "malformed: ignored";
    EXPECT_EQ(b.board.State(), sim::BoardState::PilotBios);
    EXPECT_TRUE(b.Request(0, sim::sys::StartBios, {2}).empty());
    EXPECT_EQ(b.board.StartedBios(), 2);
    EXPECT_EQ(b.board.State(), sim::BoardState::BiosRunning);
    EXPECT_TRUE(b.Request(0, sim::sys::Noop).empty())
        << "the BIOS no longer speaks the pilot's packets";
}

TEST_F(BoardPackets, SetBaudRateAcceptsOnlyItsRatesAndThenListensOnlyAtTheNewOne) {
    EXPECT_EQ(One(sim::sys::SetBaudRate, Le32(9600)).subtype, 0x46);
    EXPECT_EQ(One(sim::sys::SetBaudRate, {0x00, 0x08}).subtype, 0x46);
    EXPECT_EQ(b.board.BoardRate(), 57600u);

    EXPECT_EQ(One(sim::sys::SetBaudRate, Le32(460800)).subtype, 0x86);
    EXPECT_EQ(b.board.BoardRate(), 460800u);
    // The host still at 57600: its request is noise to the board.
    EXPECT_TRUE(b.Request(0, sim::sys::InfoProbe).empty());
    EXPECT_EQ(b.board.CountEvents("garbled-input"), 1u);
    // Half a frame at the wrong rate, the rest at the right one: still nothing.
    const Bytes noop = sim::EncodeFrame({0, sim::sys::Noop, {}});
    b.Feed(Bytes(noop.begin(), noop.begin() + 5));
    b.SetRate(460800);
    b.Feed(Bytes(noop.begin() + 5, noop.end()));
    EXPECT_TRUE(b.link.Take().empty());
    EXPECT_EQ(One(sim::sys::InfoProbe).payload.size(), 175u);

    sim::BoardOptions options;
    options.baudRates = {19200};
    DirectBoard other(options);
    other.BootToPilot();
    EXPECT_EQ(other.Request(0, sim::sys::SetBaudRate, Le32(460800))[0].subtype, 0x46);
    EXPECT_EQ(other.Request(0, sim::sys::SetBaudRate, Le32(19200))[0].subtype, 0x86);
}

// ---- Faults ----

sim::BoardOptions WithFault(const char *text) {
    sim::BoardOptions options;
    options.fault = *sim::ParseBoardFault(text);
    return options;
}

TEST(BoardFaults, SilentAnswersNothingButStillShowsAProcessor) {
    DirectBoard b(WithFault("silent"));
    b.BootToPilot();
    EXPECT_TRUE(b.board.DsrOn());
    EXPECT_TRUE(b.Request(0, sim::sys::Noop).empty());
    EXPECT_TRUE(b.link.sent.empty());
    EXPECT_GE(b.board.CountEvents("fault"), 2u); // the echo and the checksum withheld, and more
}

TEST(BoardFaults, SilentAfterPilotAnswersTheUploadOnly) {
    DirectBoard b(WithFault("silent-after-pilot"));
    b.SetRate(57600);
    b.PulseDtr();
    b.Feed({0x80, 0x0E, 0x20, 0x80, 0x24, 0x80});
    const PilotWire pilot = PilotBytes(ReadSample("pilot.bin"));
    b.Feed(pilot.header);
    b.Feed(pilot.markerAndPayload);
    EXPECT_EQ(b.link.Take(), (Bytes{0x48, 0xE6, 0x96}));
    EXPECT_TRUE(b.Request(0, sim::sys::InfoProbe).empty());
    EXPECT_TRUE(b.Request(0, sim::sys::Write, WritePayload(0x80000, {1})).empty());
    EXPECT_EQ(b.board.ReadFlash(0x80000, 1), Bytes{0xFF}) << "a hung pilot BIOS writes nothing";
}

TEST(BoardFaults, DropAndCorruptHitOnlyTheNthReply) {
    DirectBoard drop(WithFault("drop-reply:2"));
    drop.BootToPilot();
    EXPECT_EQ(drop.Request(0, sim::sys::Noop).size(), 1u);
    EXPECT_TRUE(drop.Request(0, sim::sys::Noop).empty());
    EXPECT_EQ(drop.Request(0, sim::sys::Noop).size(), 1u);

    DirectBoard corrupt(WithFault("corrupt-reply:1"));
    corrupt.BootToPilot();
    EXPECT_TRUE(corrupt.Request(0, sim::sys::InfoProbe).empty());
    EXPECT_EQ(corrupt.BadReplies(), 1u);
    EXPECT_EQ(corrupt.Request(0, sim::sys::InfoProbe).size(), 1u);
}

TEST(BoardFaults, DroppedRateAcknowledgementLeavesTheRateAlone) {
    DirectBoard b(WithFault("drop-reply:1"));
    b.BootToPilot();
    EXPECT_TRUE(b.Request(0, sim::sys::SetBaudRate, Le32(460800)).empty());
    EXPECT_EQ(b.board.BoardRate(), 57600u);
    ASSERT_EQ(b.Request(0, sim::sys::SetBaudRate, Le32(460800)).size(), 1u)
        << "the host's retry is understood";
    EXPECT_EQ(b.board.BoardRate(), 460800u);
}

TEST(BoardFaults, NakWriteRefusesTheNthWriteOnly) {
    DirectBoard b(WithFault("nak-write:2"));
    b.BootToPilot();
    EXPECT_EQ(b.Request(0, sim::sys::Write, WritePayload(0x80000, {1}))[0].subtype, 0x83);
    EXPECT_EQ(b.Request(0, sim::sys::Noop)[0].subtype, 0x81) << "other requests do not count";
    EXPECT_EQ(b.Request(0, sim::sys::Write, WritePayload(0x80001, {2}))[0].subtype, 0x43);
    EXPECT_EQ(b.Request(0, sim::sys::Write, WritePayload(0x80002, {3}))[0].subtype, 0x83);
    EXPECT_EQ(b.board.ReadFlash(0x80000, 3), (Bytes{1, 0xFF, 3}));
}

TEST(BoardFaults, CloseDropsTheHostAtTheNthPacketAndIgnoresTheRestOfIt) {
    DirectBoard b(WithFault("close:2"));
    b.BootToPilot();
    EXPECT_EQ(b.Request(0, sim::sys::Noop).size(), 1u);
    Bytes both = sim::EncodeFrame({0, sim::sys::Noop, {}});
    const Bytes write = sim::EncodeFrame({0, sim::sys::Write, WritePayload(0x80000, {7})});
    both.insert(both.end(), write.begin(), write.end());
    b.Feed(both);
    EXPECT_EQ(b.link.disconnects, 1);
    EXPECT_TRUE(b.link.Take().empty());
    EXPECT_EQ(b.board.ReadFlash(0x80000, 1), Bytes{0xFF})
        << "what followed on the dropped line is lost";
    // The next host finds the pilot BIOS still running.
    b.board.OnHostConnection(false);
    b.board.OnHostConnection(true);
    EXPECT_EQ(b.Request(0, sim::sys::Noop).size(), 1u);
    EXPECT_EQ(b.link.disconnects, 1);
}

} // namespace
