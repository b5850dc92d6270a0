// The summary at the end of a load: aligned, without the fields a road does not have, and one
// line per field whatever the flash table or a device name holds.
#include "DisplayScriptSupport.h"

#include "cli/LoadSummary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The column at which a line's value starts.
size_t ValueColumn(const std::string &line) {
    return line.find_first_not_of(' ', line.find(':') + 1);
}

TEST(LoadSummaryTest, ValuesLineUpAndUnknownFieldsAreLeftOut) {
    const std::vector<std::string> full = SummaryLines(SummaryFields(FullOutcome(4096)));
    ASSERT_FALSE(full.empty());
    for (const std::string &line : full) EXPECT_EQ(ValueColumn(line), ValueColumn(full[0])) << line;

    LoadOutcome sparse = FullOutcome(4096);
    sparse.FlashIdKnown = false;
    sparse.FlashEntry.clear();
    sparse.BaudRate = 0; // a network road
    sparse.Md5.clear();
    const std::vector<std::string> shown = SummaryLines(SummaryFields(sparse));
    EXPECT_EQ(shown.size(), full.size() - 4);
    for (const std::string &line : shown) {
        EXPECT_EQ(line.find("01a4"), std::string::npos) << line;
        EXPECT_EQ(line.find("115200"), std::string::npos) << line;
    }
}

TEST(LoadSummaryTest, TheFlashIdIsHexAndFileTextCannotAddLines) {
    LoadOutcome outcome = FullOutcome(4096);
    outcome.FlashEntry = "AM29F040\nLoad complete\x1b[1A";
    const std::vector<SummaryField> fields = SummaryFields(outcome);
    bool idShown = false;
    for (const SummaryField &field : fields) {
        EXPECT_EQ(field.Value.find_first_of("\n\x1b"), std::string::npos) << field.Value;
        if (field.Value.find("01a4") != std::string::npos) idShown = true;
    }
    EXPECT_TRUE(idShown);
}

} // namespace
