#include "load/FlashTable.h"

#include "TempFilesSupport.h"
#include "loader/LoaderErrors.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

int32_t CodeOf(const std::function<void()> &action) {
    try {
        action();
    } catch (const TargetCommException &failure) {
        return failure.Code();
    }
    return 0;
}

void ExpectDefaults(const FlashParameters &flash) {
    EXPECT_EQ(flash.SectorSize, 128);
    EXPECT_EQ(flash.SectorCount, 1);
    EXPECT_EQ(flash.FlashSize, 16);
    EXPECT_EQ(flash.WriteMode, 2);
}

class FlashTableTest : public testing::Test {
protected:
    TempFolder folder;
    std::string table = folder.WriteText("Flash.ini", "; chips of the test boards\n"
                                                      "[bf]\n"
                                                      "flash size=1\n"
                                                      "[00bf]\n"
                                                      "sector size=4096\n"
                                                      "num sectors=128\n"
                                                      "flash size=512\n"
                                                      "write mode=2\n"
                                                      "[01A4]\n"
                                                      "Sector Size = 0x10000\r\n"
                                                      "NUM SECTORS=8\r\n"
                                                      "[0020]\n"
                                                      "write mode=1\n"
                                                      "[0040]\n"
                                                      "\n"
                                                      "[0041]\n"
                                                      "flash size=0x12345\n"
                                                      "write mode=-1\n");
};

} // namespace

TEST(FlashSectionName, IsFourLowerCaseHexDigits) {
    EXPECT_EQ(FlashSectionName(0x00BF), "00bf");
    EXPECT_EQ(FlashSectionName(0x01A4), "01a4");
    EXPECT_EQ(FlashSectionName(0x0020), "0020");
    EXPECT_EQ(FlashSectionName(0xFFFF), "ffff");
}

TEST_F(FlashTableTest, SectionOfTheFlashIdGivesItsGeometry) {
    const FlashParameters flash = LookupFlashParameters(table, 0x00BF);
    EXPECT_FALSE(flash.Missing);
    EXPECT_EQ(flash.SectorSize, 4096);
    EXPECT_EQ(flash.SectorCount, 128);
    EXPECT_EQ(flash.FlashSize, 512); // not the 1 of section "bf"
    EXPECT_EQ(flash.WriteMode, 2);
}

TEST_F(FlashTableTest, NamesMatchWithoutRegardToCaseAndMissingKeysTakeDefaults) {
    const FlashParameters flash = LookupFlashParameters(table, 0x01A4);
    EXPECT_FALSE(flash.Missing);
    EXPECT_EQ(flash.SectorSize, 0); // low 16 bits of 0x10000
    EXPECT_EQ(flash.SectorCount, 8);
    EXPECT_EQ(flash.FlashSize, 16);
    EXPECT_EQ(flash.WriteMode, 2);

    const FlashParameters eraseFirst = LookupFlashParameters(table, 0x0020);
    EXPECT_FALSE(eraseFirst.Missing);
    EXPECT_EQ(eraseFirst.WriteMode, 1);
    EXPECT_EQ(eraseFirst.FlashSize, 16);

    const FlashParameters wide = LookupFlashParameters(table, 0x0041);
    EXPECT_EQ(wide.FlashSize, 0x2345);
    EXPECT_EQ(wide.WriteMode, 0xFFFF);
}

TEST_F(FlashTableTest, EmptyOrAbsentSectionSetsTheMissingFlagAndSendsDefaults) {
    const FlashParameters empty = LookupFlashParameters(table, 0x0040);
    EXPECT_TRUE(empty.Missing);
    ExpectDefaults(empty);
    const FlashParameters absent = LookupFlashParameters(table, 0x1234);
    EXPECT_TRUE(absent.Missing);
    ExpectDefaults(absent);
}

TEST_F(FlashTableTest, TableThatCannotBeOpenedGives24) {
    EXPECT_EQ(CodeOf([&] { LookupFlashParameters((folder.Path() / "none.ini").string(), 0xBF); }),
              LoaderErrorFlashTableMissing);
    EXPECT_EQ(CodeOf([] { LookupFlashParameters("", 0xBF); }), LoaderErrorFlashTableMissing);
    EXPECT_EQ(CodeOf([&] { LookupFlashParameters(folder.Path().string(), 0xBF); }),
              LoaderErrorFlashTableMissing);
}

TEST_F(FlashTableTest, EveryLookupReadsTheFileAgain) {
    EXPECT_TRUE(LookupFlashParameters(table, 0x7777).Missing);
    folder.WriteText("Flash.ini", "[7777]\nwrite mode=17\n");
    const FlashParameters flash = LookupFlashParameters(table, 0x7777);
    EXPECT_FALSE(flash.Missing);
    EXPECT_EQ(flash.WriteMode, 17);
}

TEST(SampleFlashTable, HasTheSimulatedBoardsChips) {
    const std::string table =
        (std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "samples" /
         "Flash.ini")
            .string();
    const FlashParameters chip = LookupFlashParameters(table, 0x00BF);
    EXPECT_FALSE(chip.Missing);
    EXPECT_EQ(chip.SectorSize, 4096);
    EXPECT_EQ(chip.SectorCount, 128);
    EXPECT_EQ(chip.FlashSize, 512);
    EXPECT_EQ(chip.WriteMode, 2);
    EXPECT_EQ(LookupFlashParameters(table, 0x01A4).WriteMode, 1);
    EXPECT_EQ(LookupFlashParameters(table, 0x0020).WriteMode, 17);
}
