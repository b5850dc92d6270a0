// The cold-load stage over a real serial connection on a pseudo-terminal: what reaches the board,
// the processor check, and the files it refuses.
#include "EngineTestSupport.h"

#include <gtest/gtest.h>

using namespace enginetest;

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes StartTriplet = {0x80, 0x0E, 0x20};
const Bytes EndingTriplet = {0x80, 0x0E, 0x30};
const Bytes EndTriplet = {0x80, 0x24, 0x80};

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

class ColdLoadTest : public EngineTest {
protected:
    // Connects raw at the cold-load rate, runs the stage, and returns its LoaderError.
    int32_t RunColdLoad(const Bytes &file, int32_t detectProcessor) {
        CommOptions options = SerialOptions(9600);
        options.DetectProcessor = detectProcessor;
        ConnectAt(9600, 0, options);
        const std::string path = WriteTempFile("coldload.bin", file);
        return LoaderErrorOf([&] { EXPECT_TRUE(engine->SendColdLoader(path, 2400)); });
    }
};

TEST_F(ColdLoadTest, FramesTheFileTripletsWithTheStageTriplets) {
    StartBoard(SilentBoard());
    // Everything after the end triplet is never read: the two trailing bytes are not sent.
    const Bytes file = Concat({{0x20, 0x00, 0x63}, {0x20, 0x01, 0x6F}, EndTriplet, {0x11, 0x22}});
    ASSERT_EQ(RunColdLoad(file, 0), 0);
    const Bytes expected =
        Concat({StartTriplet, {0x20, 0x00, 0x63}, {0x20, 0x01, 0x6F}, EndingTriplet, EndTriplet});
    ASSERT_TRUE(board->WaitReceived(expected.size(), 2000));
    EXPECT_EQ(board->Received(), expected);
    // The reset pulse leaves the line at the stage's own rate, not the connect's.
    EXPECT_EQ(pty.SlaveBaud(), 2400u);
    EXPECT_EQ(engine->GetConnectionMode(), 0);
}

TEST_F(ColdLoadTest, EndTripletFirstSendsExactlyNineBytes) {
    StartBoard(SilentBoard());
    ASSERT_EQ(RunColdLoad(EndTriplet, 0), 0);
    const Bytes expected = Concat({StartTriplet, EndingTriplet, EndTriplet});
    ASSERT_TRUE(board->WaitReceived(expected.size(), 2000));
    // Nothing more trickles in after the nine bytes.
    EXPECT_FALSE(board->WaitReceived(expected.size() + 1, 100));
    EXPECT_EQ(board->Received(), expected);
}

TEST_F(ColdLoadTest, EndTripletOffTheTripletGridIsNotRecognised) {
    StartBoard(SilentBoard());
    // 0x80 0x24 0x80 at offset 1 is no end triplet; the real one follows at offset 6.
    const Bytes file = Concat({{0x01, 0x80, 0x24}, {0x80, 0x02, 0x03}, EndTriplet});
    ASSERT_EQ(RunColdLoad(file, 0), 0);
    const Bytes expected =
        Concat({StartTriplet, {0x01, 0x80, 0x24, 0x80, 0x02, 0x03}, EndingTriplet, EndTriplet});
    ASSERT_TRUE(board->WaitReceived(expected.size(), 2000));
    EXPECT_EQ(board->Received(), expected);
}

TEST_F(ColdLoadTest, SteadyDsrIsNoProcessorOnlyWhenDetectionIsOn) {
    // The pty has no modem lines: DSR reads 0 before and after, as on a board with no processor.
    StartBoard(SilentBoard());
    EXPECT_EQ(RunColdLoad(EndTriplet, 1), LoaderErrorNoProcessor);
    // The whole loader still went out before the check.
    EXPECT_TRUE(board->WaitReceived(9, 2000));
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(ColdLoadTest, RefusedFilesSendNoTriplet) {
    StartBoard(SilentBoard());
    // No end triplet at all: not a cold loader.
    EXPECT_EQ(RunColdLoad(Bytes(300, 0x01), 0), LoaderErrorColdLoaderFormat);
    // A missing file.
    EXPECT_EQ(LoaderErrorOf([&] { engine->SendColdLoader("/nonexistent/coldload.bin", 2400); }),
              LoaderErrorColdLoaderSendOpen);
    EXPECT_EQ(LoaderErrorOf([&] { engine->SendColdLoader("", 2400); }),
              LoaderErrorColdLoaderSendOpen);
    EXPECT_FALSE(board->WaitReceived(1, 100));
}

TEST_F(ColdLoadTest, CancelDuringTheLoadEndsWithTwenty) {
    StartBoard(SilentBoard());
    // Runs during the reset pulse; no other message follows it, as with a front end that has
    // no window traffic of its own, and the load still stops at the next byte.
    window.Run([this] { engine->CancelTransfer(); });
    EXPECT_EQ(RunColdLoad(Concat({Bytes(600, 0x01), EndTriplet}), 0), LoaderErrorCancelled);
    EXPECT_TRUE(window.ActionRan());
    EXPECT_FALSE(board->WaitReceived(2, 100));
    // Outside a session a cancel between engine calls has nothing to end.
    engine->EndSession();
    engine->CancelTransfer();
    EXPECT_EQ(RunColdLoad(EndTriplet, 0), 0);
    // Inside one it is not lost: the next stage ends at once.
    engine->StartSession();
    engine->CancelTransfer();
    EXPECT_EQ(RunColdLoad(EndTriplet, 0), LoaderErrorCancelled);
    engine->EndSession();
}

TEST_F(ColdLoadTest, ResetAndEndTripletWakeARunningBoard) {
    StartBoard(SilentBoard());
    ConnectAt(115200, 0);
    engine->ResetTarget(2400);
    EXPECT_EQ(pty.SlaveBaud(), 2400u);
    engine->SendEndTriplet();
    ASSERT_TRUE(board->WaitReceived(3, 2000));
    EXPECT_EQ(board->Received(), EndTriplet);
}

} // namespace
