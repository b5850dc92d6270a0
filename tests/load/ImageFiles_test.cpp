#include "load/ImageFiles.h"

#include "TempFilesSupport.h"
#include "loader/LoaderErrors.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

namespace {

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
const std::vector<uint8_t> EndTriplet = {0x80, 0x24, 0x80};

int32_t CodeOf(const std::function<void()> &action) {
    try {
        action();
    } catch (const TargetCommException &failure) {
        return failure.Code();
    }
    return 0;
}

struct Write {
    uint32_t address;
    std::vector<uint8_t> data;
};

// Runs SendBinImage over a file and records what it hands on.
struct ImageSend {
    std::vector<Write> writes;
    std::vector<std::pair<uint32_t, uint32_t>> progress;
    int pumps = 0;
    int32_t lastReadCount = -1;
    Address writeAddress;

    void Run(std::FILE *file, int failOnWrite = 0) {
        std::vector<uint8_t> chunk(129);
        SendBinImage(
            file, chunk, 128, writeAddress, lastReadCount,
            [this](uint32_t sent, uint32_t step) { progress.emplace_back(sent, step); },
            [this, failOnWrite](uint32_t address, uint16_t length, const uint8_t *data) {
                writes.push_back({address, std::vector<uint8_t>(data, data + length)});
                if (static_cast<int>(writes.size()) == failOnWrite)
                    throw TargetCommException(LoaderErrorTimeout);
            },
            [this] { ++pumps; });
    }
};

class ImageFilesTest : public testing::Test {
protected:
    TempFolder folder;
};

} // namespace

TEST_F(ImageFilesTest, ImageGoesOutInAddressedChunksWithTheTrueLastLength) {
    const std::vector<uint8_t> image = Filler(300);
    int32_t imageBytes = -1;
    const FileHandle file = OpenImage(folder.Write("a.bin", image), imageBytes);
    ASSERT_EQ(imageBytes, 300);
    ImageSend send;
    send.Run(file.get());

    ASSERT_EQ(send.writes.size(), 3u);
    EXPECT_EQ(send.writes[0].address, 0x80000u);
    EXPECT_EQ(send.writes[1].address, 0x80080u);
    EXPECT_EQ(send.writes[2].address, 0x80100u);
    EXPECT_EQ(send.writes[2].data.size(), 44u);
    EXPECT_EQ(Concat(Concat(send.writes[0].data, send.writes[1].data), send.writes[2].data), image);
    // The counter moves by the bytes read, the bar by a whole chunk each time.
    const std::vector<std::pair<uint32_t, uint32_t>> progress = {{128, 128}, {128, 128}, {44, 128}};
    EXPECT_EQ(send.progress, progress);
    EXPECT_GE(send.pumps, 3);
    EXPECT_EQ(send.lastReadCount, 44); // the short read has hit the end of the file
    EXPECT_EQ(send.writeAddress.ToPhysical(), 300u);
}

TEST_F(ImageFilesTest, WholeChunksAndEmptyImages) {
    int32_t imageBytes = -1;
    ImageSend twoChunks;
    twoChunks.Run(OpenImage(folder.Write("b.bin", Filler(256)), imageBytes).get());
    EXPECT_EQ(twoChunks.writes.size(), 2u);
    EXPECT_EQ(twoChunks.lastReadCount, 0); // only a third, empty read finds the end

    ImageSend empty;
    const FileHandle file = OpenImage(folder.Write("c.bin", {}), imageBytes);
    EXPECT_EQ(imageBytes, 0);
    empty.Run(file.get());
    EXPECT_TRUE(empty.writes.empty());
    EXPECT_TRUE(empty.progress.empty());
}

TEST_F(ImageFilesTest, OffsetsAtOneMegabyteWrapToTheImageBase) {
    int32_t imageBytes = 0;
    const FileHandle file = OpenImage(folder.Write("d.bin", Filler(256)), imageBytes);
    ImageSend send;
    send.writeAddress = Address::FromPhysical(0x100000 - 128);
    send.Run(file.get());
    ASSERT_EQ(send.writes.size(), 2u);
    EXPECT_EQ(send.writes[1].address, 0x80000u);
}

TEST_F(ImageFilesTest, FailedWriteStopsTheSendAndPassesItsCodeOn) {
    int32_t imageBytes = 0;
    const FileHandle file = OpenImage(folder.Write("e.bin", Filler(1000)), imageBytes);
    ImageSend send;
    EXPECT_EQ(CodeOf([&] { send.Run(file.get(), 2); }), LoaderErrorTimeout);
    EXPECT_EQ(send.writes.size(), 2u);
}

TEST_F(ImageFilesTest, ReadErrorIsReportedNotTakenForTheEnd) {
    // Reading a directory opened as a file fails on the first read.
    FileHandle directory(std::fopen(folder.Path().c_str(), "rb"));
    ASSERT_TRUE(directory);
    ImageSend send;
    EXPECT_EQ(CodeOf([&] { send.Run(directory.get()); }), LoaderErrorProgramRead);
    EXPECT_TRUE(send.writes.empty());
}

TEST_F(ImageFilesTest, ChunkSizeMustFitBufferAndBlock) {
    int32_t imageBytes = 0;
    const FileHandle file = OpenImage(folder.Write("f.bin", Filler(10)), imageBytes);
    Address address;
    int32_t last = 0;
    std::vector<uint8_t> small(64);
    const auto noProgress = [](uint32_t, uint32_t) {};
    const auto noWrite = [](uint32_t, uint16_t, const uint8_t *) {};
    EXPECT_THROW(SendBinImage(file.get(), small, 128, address, last, noProgress, noWrite),
                 std::invalid_argument);
    std::vector<uint8_t> big(0x10000);
    EXPECT_THROW(SendBinImage(file.get(), big, 0x10000, address, last, noProgress, noWrite),
                 std::invalid_argument);
    EXPECT_THROW(SendBinImage(file.get(), big, 0, address, last, noProgress, noWrite),
                 std::invalid_argument);
}

TEST_F(ImageFilesTest, ImageThatCannotBeOpenedOrDoesNotFitIsRefused) {
    int32_t imageBytes = 0;
    EXPECT_EQ(CodeOf([&] { OpenImage((folder.Path() / "none.bin").string(), imageBytes); }),
              LoaderErrorProgramOpen);
    EXPECT_EQ(CodeOf([&] { OpenImage(folder.Path().string(), imageBytes); }),
              LoaderErrorProgramOpen);
    EXPECT_EQ(CodeOf([&] { OpenImage("", imageBytes); }), LoaderErrorProgramOpen);

    const std::string largest = folder.Write("max.bin", {});
    std::filesystem::resize_file(largest, 0x80000);
    EXPECT_EQ(CodeOf([&] { OpenImage(largest, imageBytes); }), 0);
    EXPECT_EQ(imageBytes, 0x80000);
    std::filesystem::resize_file(largest, 0x80001);
    EXPECT_EQ(CodeOf([&] { OpenImage(largest, imageBytes); }), LoaderErrorProgramTooLarge);
}

TEST_F(ImageFilesTest, ColdLoaderWeightIsTheEndOfTheLastEndTripletInTheFirstThousandGroups) {
    const auto weigh = [&](const std::vector<uint8_t> &bytes) {
        return MeasureColdLoader(folder.Write("cold.bin", bytes));
    };
    EXPECT_EQ(weigh(Concat(Filler(597), EndTriplet)), 600u);
    EXPECT_EQ(weigh(Concat(Concat(Filler(1197), EndTriplet), Filler(30))), 1000u);
    EXPECT_EQ(weigh(Filler(900)), 0u);
    EXPECT_EQ(weigh({}), 0u);
    // A later end triplet replaces an earlier one.
    EXPECT_EQ(weigh(Concat(Concat(Concat(Filler(297), EndTriplet), Filler(297)), EndTriplet)),
              600u);
    // Groups are taken strictly by position: one straddling two groups is not seen.
    EXPECT_EQ(weigh(Concat(Concat(Filler(598), EndTriplet), Filler(2))), 0u);
    // Only the first 1000 groups count.
    EXPECT_EQ(weigh(Concat(Filler(3000), EndTriplet)), 0u);
    EXPECT_EQ(weigh(Concat(Filler(2997), EndTriplet)), 1000u);

    EXPECT_EQ(CodeOf([&] { MeasureColdLoader((folder.Path() / "none").string()); }),
              LoaderErrorColdLoaderOpen);
    EXPECT_EQ(CodeOf([&] { MeasureColdLoader(""); }), LoaderErrorColdLoaderOpen);
}

TEST_F(ImageFilesTest, ColdLoaderTripletsStopBeforeTheEndTriplet) {
    std::vector<uint8_t> triplets;
    const std::string path =
        folder.Write("c.bin", Concat(Concat(Filler(9), EndTriplet), Filler(6)));
    EXPECT_EQ(ReadColdLoaderTriplets(path, triplets), 0);
    EXPECT_EQ(triplets, Filler(9));

    EXPECT_EQ(ReadColdLoaderTriplets(folder.Write("first.bin", EndTriplet), triplets), 0);
    EXPECT_TRUE(triplets.empty());

    EXPECT_EQ(ReadColdLoaderTriplets((folder.Path() / "none").string(), triplets), 5001);
}

TEST_F(ImageFilesTest, ColdLoaderWithoutEndTripletIsMalformed) {
    std::vector<uint8_t> triplets;
    EXPECT_EQ(ReadColdLoaderTriplets(folder.Write("a.bin", Filler(30)), triplets), 5002);
    EXPECT_TRUE(triplets.empty());
    EXPECT_EQ(
        ReadColdLoaderTriplets(folder.Write("b.bin", Concat(Filler(4), EndTriplet)), triplets),
        5002);
    // The end triplet may be the 16384th group, not the 16385th.
    EXPECT_EQ(ReadColdLoaderTriplets(folder.Write("c.bin", Concat(Filler(16383 * 3), EndTriplet)),
                                     triplets),
              0);
    EXPECT_EQ(triplets.size(), 16383u * 3);
    EXPECT_EQ(ReadColdLoaderTriplets(folder.Write("d.bin", Concat(Filler(16384 * 3), EndTriplet)),
                                     triplets),
              5002);
    EXPECT_EQ(CodeOf([] { RaiseLoaderError(5002); }), LoaderErrorColdLoaderFormat);
    EXPECT_STREQ(ErrorMessage(LoaderErrorColdLoaderFormat),
                 "Cold loader file is not formatted correctly.");
}

TEST_F(ImageFilesTest, PilotBiosLengthCountsFromTheMarker) {
    const auto lengthOf = [&](const std::vector<uint8_t> &bytes, uint16_t &length, long &position) {
        FileHandle file = OpenForReading(folder.Write("pilot.bin", bytes));
        const int32_t code = PilotBiosLength(file.get(), length);
        position = std::ftell(file.get());
        return code;
    };
    uint16_t length = 0;
    long position = 0;
    EXPECT_EQ(lengthOf(Concat({0xCC}, Filler(99)), length, position), 0);
    EXPECT_EQ(length, 100);
    EXPECT_EQ(position, 1);
    EXPECT_EQ(lengthOf(Concat(Filler(50), {0xCC}), length, position), 0);
    EXPECT_EQ(length, 1);
    EXPECT_EQ(position, 51);
    // The first marker counts, even when the payload holds more.
    EXPECT_EQ(lengthOf(Concat(Concat(Filler(5000), {0xCC, 0xCC}), Filler(10)), length, position),
              0);
    EXPECT_EQ(length, 12);
    EXPECT_EQ(position, 5001);

    EXPECT_EQ(lengthOf(Filler(70), length, position), 6007);
    EXPECT_EQ(lengthOf({}, length, position), 6007);
    EXPECT_EQ(PilotBiosLength(nullptr, length), 6007);
    EXPECT_EQ(lengthOf(Concat({0xCC}, Filler(0xFFFE)), length, position), 0);
    EXPECT_EQ(length, 0xFFFF);
    EXPECT_EQ(lengthOf(Concat({0xCC}, Filler(0xFFFF)), length, position), 6009);
}

TEST_F(ImageFilesTest, PilotBiosMeasureRaisesTheSessionCodes) {
    EXPECT_EQ(
        MeasurePilotBiosFile(folder.Write("p.bin", Concat(Filler(16), Concat({0xCC}, Filler(40))))),
        41);
    EXPECT_EQ(CodeOf([&] { MeasurePilotBiosFile((folder.Path() / "none").string()); }),
              LoaderErrorPilotBiosOpen);
    EXPECT_EQ(CodeOf([&] { MeasurePilotBiosFile(folder.Write("q.bin", Filler(40))); }),
              LoaderErrorPilotBiosSendOpen);
    EXPECT_EQ(CodeOf([&] {
                  MeasurePilotBiosFile(folder.Write("r.bin", Concat({0xCC}, Filler(0x10000))));
              }),
              LoaderErrorPilotBiosTooLarge);
}

// The files shipped for the simulated board must pass the very readers a load uses.
TEST(SampleFiles, AreWellFormed) {
    const std::filesystem::path samples =
        std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "samples";
    EXPECT_EQ(MeasureColdLoader((samples / "coldload.bin").string()), 195u);
    std::vector<uint8_t> triplets;
    EXPECT_EQ(ReadColdLoaderTriplets((samples / "coldload.bin").string(), triplets), 0);
    EXPECT_EQ(triplets.size(), 64u * 3);
    EXPECT_EQ(MeasurePilotBiosFile((samples / "pilot.bin").string()), 2048);
    int32_t imageBytes = 0;
    EXPECT_TRUE(OpenImage((samples / "demo-image.bin").string(), imageBytes));
    EXPECT_EQ(imageBytes, 65536);
}
