#include "display/plot_frame.h"

#include <gtest/gtest.h>

#include "display/plots.h"
#include "test_gui.h"

namespace vurma::display {
namespace {

class PlotFrameTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { vurma::test::EnsureApp(); }
};

TEST_F(PlotFrameTest, ShowsTheVisibleRectangleInsideTheEdge) {
    PlotFrame frame(261, 210);
    EXPECT_EQ(frame.outerWidth(), 261);
    EXPECT_EQ(frame.outerHeight(), 210);
    EXPECT_EQ(frame.size(), QSize(261, 210));
    EXPECT_TRUE(frame.testAttribute(Qt::WA_TransparentForMouseEvents));

    QImage surface = CreatePlotSurface(261, 210);
    SpectrumInput in;  // no spectrum: grid only
    DrawSpectrum(surface, in);
    frame.setSurface(surface);

    // Columns 0..W-6 and rows 0..H-6: the grid line at x 256 is not shown.
    const QImage& shown = frame.shownImage();
    ASSERT_EQ(shown.size(), QSize(256, 205));
    EXPECT_EQ(shown.pixel(192, 100), surface.pixel(192, 100));
    EXPECT_EQ(shown.pixel(255, 20), surface.pixel(255, 20));
    EXPECT_EQ(surface.pixel(256, 100) & 0xffffff, 0x787878u);

    const QImage painted = frame.grab().toImage();
    EXPECT_EQ(painted.pixel(2 + 192, 2 + 100) & 0xffffff, 0x787878u);
    EXPECT_EQ(painted.pixel(2 + 10, 2 + 20) & 0xffffff, 0x787878u);
    EXPECT_EQ(painted.pixel(2 + 10, 2 + 21) & 0xffffff, 0x000000u);
}

}  // namespace
}  // namespace vurma::display
