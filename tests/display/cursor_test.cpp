#include <gtest/gtest.h>

#include "display/plots.h"

namespace vurma::display {
namespace {

TEST(CursorTest, BinUnderPixel) {
    // 44100 Hz, N 2048, 500 Hz/div: 2.75625 pixels per bin.
    EXPECT_EQ(CursorBinAt(1, 100, 500, 44100, 2048), 37);
    EXPECT_EQ(CursorBinAt(11, 100, 500, 44100, 2048), 47);
    EXPECT_EQ(CursorBinAt(1, 0, 500, 44100, 2048), 1);
    EXPECT_EQ(CursorBinAt(1, -50, 500, 44100, 2048), 1);  // left of the plot
    EXPECT_EQ(CursorBinAt(1, 100, 500, 44100, 4096), 73);
}

TEST(CursorTest, HitBandIsThirteenPixelsWide) {
    EXPECT_TRUE(HitTestCursor(true, 100, 94, 50, 210));
    EXPECT_TRUE(HitTestCursor(true, 100, 106, 50, 210));
    EXPECT_FALSE(HitTestCursor(true, 100, 93, 50, 210));
    EXPECT_FALSE(HitTestCursor(true, 100, 107, 50, 210));
    EXPECT_FALSE(HitTestCursor(false, 100, 100, 50, 210));
    EXPECT_TRUE(HitTestCursor(true, 100, 100, 0, 210));
    EXPECT_TRUE(HitTestCursor(true, 100, 100, 209, 210));
    EXPECT_FALSE(HitTestCursor(true, 100, 100, -1, 210));
    EXPECT_FALSE(HitTestCursor(true, 100, 100, 210, 210));
}

TEST(CursorTest, SpinStepsStayInsideThePlot) {
    // 8192 Hz, N 512, 1024 Hz/div: exactly one pixel per bin.
    int bin = 255;
    int offset = 0;
    ASSERT_TRUE(SpinCursor(-1, 1, 1024, 8192, 512, 261, &bin, &offset));  // to x = W-6
    EXPECT_EQ(bin, 256);
    EXPECT_EQ(offset, 255);
    EXPECT_FALSE(SpinCursor(-1, 1, 1024, 8192, 512, 261, &bin, &offset));  // x = W-5
    EXPECT_EQ(bin, 256);
    EXPECT_EQ(offset, 255);

    bin = 1;
    offset = 0;
    EXPECT_FALSE(SpinCursor(+1, 1, 1024, 8192, 512, 261, &bin, &offset));  // x = -1
    EXPECT_EQ(bin, 1);
    ASSERT_TRUE(SpinCursor(-1, 1, 1024, 8192, 512, 261, &bin, &offset));
    EXPECT_EQ(offset, 1);
    ASSERT_TRUE(SpinCursor(+1, 1, 1024, 8192, 512, 261, &bin, &offset));
    EXPECT_EQ(bin, 1);
    EXPECT_EQ(offset, 0);
}

TEST(CursorTest, SpinStoresThePixelWhichMapsBackToTheBinBelow) {
    const int F = 1;
    int bin = F + 4;
    int offset = 0;
    ASSERT_TRUE(SpinCursor(-1, F, 500, 44100, 2048, 261, &bin, &offset));
    EXPECT_EQ(bin, F + 5);
    EXPECT_EQ(offset, 13);
    EXPECT_EQ(CursorBinAt(F, offset, 500, 44100, 2048), F + 4);
}

}  // namespace
}  // namespace vurma::display
