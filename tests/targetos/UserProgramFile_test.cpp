// The user program file: what its check accepts and refuses, and how its records are cut into
// the blocks that go to the board.
#include "targetos/UserProgramFile.h"

#include "loader/LoaderErrors.h"
#include "support/UserProgramBuilder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>
#include <fstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using upltest::Builder;
using upltest::Pattern;

struct Write {
    uint32_t address;
    std::vector<uint8_t> block;
};

class UserProgramTest : public ::testing::Test {
protected:
    fs::path dir;

    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("tarnwick-upl-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string File(const std::vector<uint8_t> &bytes) const {
        const fs::path path = dir / "program.upl";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }

    // Verifies and sends the file; the blocks and the progress steps are kept.
    void VerifyAndSend(const std::vector<uint8_t> &bytes) {
        UserProgramFile file(File(bytes));
        file.Verify();
        SendUserProgram(
            file, [&](uint32_t step) { steps.push_back(step); },
            [&](uint32_t address, uint16_t length, const uint8_t *data) {
                writes.push_back({address, std::vector<uint8_t>(data, data + length)});
            },
            [&] { ++pumps; });
    }

    static int32_t CodeOf(const std::function<void()> &action) {
        try {
            action();
        } catch (const TargetCommException &e) {
            return e.Code();
        }
        return 0;
    }
    int32_t VerifyCode(const std::vector<uint8_t> &bytes) {
        return CodeOf([&] { VerifyAndSend(bytes); });
    }

    std::vector<Write> writes;
    std::vector<uint32_t> steps;
    int pumps = 0;
};

TEST_F(UserProgramTest, EmptyProgramWithTheDigestOfNothingPassesAndSendsNothing) {
    const std::vector<uint8_t> bytes = Builder().Bytes();
    ASSERT_EQ(bytes.size(), 28u);
    UserProgramFile file(File(bytes));
    EXPECT_NO_THROW(file.Verify());
    EXPECT_EQ(file.TotalLength(), 0u);
    EXPECT_NO_THROW(VerifyAndSend(bytes));
    EXPECT_TRUE(writes.empty());
    EXPECT_TRUE(steps.empty());
}

TEST_F(UserProgramTest, RecordOf300BytesGoesAsTwoWholeBlocksAndOnePaddedOne) {
    const uint32_t a = 0x20000;
    const std::vector<uint8_t> data = Pattern(300);
    VerifyAndSend(Builder().Add(a, data).Bytes());

    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].address, a);
    EXPECT_EQ(writes[1].address, a + 128);
    EXPECT_EQ(writes[2].address, a + 256);
    EXPECT_EQ(writes[0].block, std::vector<uint8_t>(data.begin(), data.begin() + 128));
    EXPECT_EQ(writes[1].block, std::vector<uint8_t>(data.begin() + 128, data.begin() + 256));
    std::vector<uint8_t> last(data.begin() + 256, data.end());
    last.resize(128, 0);
    EXPECT_EQ(writes[2].block, last);
    // The last piece stands for the rest of the record, its 8 header bytes included.
    EXPECT_EQ(steps, (std::vector<uint32_t>{128, 128, 44 + 8}));
    EXPECT_EQ(pumps, 1 + 3 + 1); // before the record, each block, and the end check
}

TEST_F(UserProgramTest, RecordsKeepTheirOwnAddressesAndAWholeLastBlockIsNotPadded) {
    VerifyAndSend(
        Builder().Add(0x1000, Pattern(256, 2)).Add(0x9000, Pattern(1, 3)).Add(0x7000, {}).Bytes());
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].address, 0x1000u);
    EXPECT_EQ(writes[1].address, 0x1080u);
    EXPECT_EQ(writes[2].address, 0x9000u);
    EXPECT_EQ(writes[2].block[0], Pattern(1, 3)[0]);
    EXPECT_EQ(writes[2].block[1], 0);
    // A record without a partial last block (and an empty one) still counts its header bytes:
    // the steps add up to the total length the progress range is set to.
    EXPECT_EQ(steps, (std::vector<uint32_t>{128, 128, 8, 9, 8}));
    UserProgramFile file(File(
        Builder().Add(0x1000, Pattern(256, 2)).Add(0x9000, Pattern(1, 3)).Add(0x7000, {}).Bytes()));
    EXPECT_EQ(std::accumulate(steps.begin(), steps.end(), 0u), file.TotalLength());
}

TEST_F(UserProgramTest, OneFlippedDigestBitIsTwentySix) {
    for (unsigned bit : {0u, 63u, 127u}) {
        SCOPED_TRACE(bit);
        EXPECT_EQ(VerifyCode(Builder().Add(0x100, Pattern(40)).FlipDigestBit(bit).Bytes()),
                  LoaderErrorUserProgramDigest);
    }
    EXPECT_TRUE(writes.empty());
}

TEST_F(UserProgramTest, RecordsOvershootingTheTotalStopAtTheFirstThatReachesIt) {
    // The second record brings the sum from 28 to 66, past a total of 30: it is the last one
    // checked and sent, and the third (whose length field is nonsense) is never read.
    upltest::Record junk{0x3000, Pattern(10, 9), 3};
    const auto bytes = Builder()
                           .Add(0x1000, Pattern(20, 1))
                           .Add(0x2000, Pattern(30, 2))
                           .AddRaw(junk)
                           .Total(30)
                           .DigestOf(2)
                           .Bytes();
    VerifyAndSend(bytes);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].address, 0x1000u);
    EXPECT_EQ(writes[1].address, 0x2000u);
}

struct BrokenFile {
    const char *what;
    std::function<std::vector<uint8_t>()> bytes;
    int32_t code;
};

class BrokenUserProgram : public UserProgramTest,
                          public ::testing::WithParamInterface<BrokenFile> {};

TEST_P(BrokenUserProgram, IsRefusedWithItsCodeWithoutSendingAnything) {
    EXPECT_EQ(VerifyCode(GetParam().bytes()), GetParam().code);
    EXPECT_TRUE(writes.empty());
}

std::vector<uint8_t> Cut(std::vector<uint8_t> bytes, size_t drop) {
    bytes.resize(bytes.size() - drop);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BrokenUserProgram,
    ::testing::Values(
        BrokenFile{"header cut", [] { return Cut(Builder().Bytes(), 1); },
                   LoaderErrorUserProgramFormat},
        BrokenFile{"empty file", [] { return std::vector<uint8_t>{}; },
                   LoaderErrorUserProgramFormat},
        // The total promises more than the file holds: the end of the file decides, at once.
        BrokenFile{"ends inside a record's data",
                   [] { return Cut(Builder().Add(0, Pattern(300)).Bytes(), 100); },
                   LoaderErrorUserProgramFormat},
        BrokenFile{"ends inside a record header",
                   [] { return Cut(Builder().Add(0, Pattern(8)).Total(100).Bytes(), 0); },
                   LoaderErrorUserProgramFormat},
        // Below its own header a length would wrap the data size; 0 would never reach the total.
        BrokenFile{"record length 0",
                   [] {
                       return Builder().AddRaw({0, {}, 0}).Total(8).Bytes();
                   },
                   LoaderErrorUserProgramFormat},
        BrokenFile{"record length 7",
                   [] {
                       return Builder().AddRaw({0, Pattern(7), 7}).Bytes();
                   },
                   LoaderErrorUserProgramFormat},
        BrokenFile{"running sum beyond 0x600000",
                   [] {
                       return Builder().AddRaw({0, Pattern(16), 0x600001}).Bytes();
                   },
                   LoaderErrorUserProgramDigest},
        BrokenFile{"sum that would wrap 32 bits",
                   [] {
                       return Builder()
                           .AddRaw({0, {}, 8})
                           .AddRaw({0, {}, 0xFFFFFFF8})
                           .Total(0xFFFFFFFF)
                           .Bytes();
                   },
                   LoaderErrorUserProgramDigest}),
    [](const ::testing::TestParamInfo<BrokenFile> &testCase) {
        std::string name = testCase.param.what;
        for (char &c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

TEST_F(UserProgramTest, FileThatCannotBeOpenedIsTheProgramFileError) {
    EXPECT_EQ(CodeOf([&] { UserProgramFile((dir / "missing.upl").string()); }),
              LoaderErrorProgramOpen);
    EXPECT_EQ(CodeOf([&] { UserProgramFile(dir.string()); }), LoaderErrorProgramOpen);
}

} // namespace
