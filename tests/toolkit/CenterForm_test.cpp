#include "toolkit/CenterForm.h"

#include <gtest/gtest.h>

namespace {

using toolkit::CenteredPosition;

TEST(CenterForm, SmallerFormSitsInTheMiddle) {
    const auto position = CenteredPosition(100, 50, 463, 408, 292, 128);
    EXPECT_EQ(position.Left, 100 + 85); // (463 - 292) / 2 = 85.5, truncated
    EXPECT_EQ(position.Top, 50 + 140);
}

TEST(CenterForm, OddNegativeDifferencesTruncateTowardZero) {
    // 3 pixels wider than the main window: one pixel to the left, not two.
    EXPECT_EQ(CenteredPosition(200, 0, 400, 300, 403, 300).Left, 199);
    EXPECT_EQ(CenteredPosition(0, 200, 400, 300, 400, 305).Top, 198);
    EXPECT_EQ(CenteredPosition(10, 10, 400, 300, 401, 301).Left, 10);
}

TEST(CenterForm, WorksOffTheLeftAndTopOfTheDesktop) {
    const auto position = CenteredPosition(-50, -20, 300, 200, 500, 400);
    EXPECT_EQ(position.Left, -150);
    EXPECT_EQ(position.Top, -120);
}

} // namespace
