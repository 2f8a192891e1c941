#include "display/plots.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>
#include <vector>

#include "display/plot_frame.h"
#include "test_gui.h"

namespace vurma::display {
namespace {

constexpr QRgb kBlack = 0x000000;
constexpr QRgb kGrey = 0x787878;
constexpr QRgb kGreen = 0x00ff00;
constexpr QRgb kWhite = 0xffffff;
constexpr QRgb kUntouched = 0xff0000;  // pre-fill outside the client area

class PlotTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { vurma::test::EnsureApp(); }

    void MakeSurface(int w, int h) {
        surface_ = CreatePlotSurface(w, h);
        surface_.fill(QColor(kUntouched | 0xff000000));
    }
    QRgb Px(int x, int y) const { return surface_.pixel(x, y) & 0xffffff; }
    struct At {
        int x, y;
        QRgb color;
    };
    void ExpectPixels(std::initializer_list<At> pixels) const {
        for (const At& p : pixels) EXPECT_EQ(Px(p.x, p.y), p.color) << p.x << "," << p.y;
    }
    // Number of pixels of `color` in the rectangle [x0, x1) x [y0, y1).
    int Count(QRgb color, int x0, int y0, int x1, int y1) const {
        int n = 0;
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) n += Px(x, y) == color;
        }
        return n;
    }

    QImage surface_;
};

// ---- Waveform (305 x 105) ----

class WaveTest : public PlotTest {
  protected:
    void SetUp() override { MakeSurface(305, 105); }
    AxisLabels Draw(const std::vector<double>& samples, int rate, int timeScaleUs, int first = 0) {
        in_.samples = samples.data();
        in_.nSamples = int(samples.size());
        in_.sampleRate = rate;
        in_.timeScaleUs = timeScaleUs;
        in_.firstDrawn = first;
        return DrawWave(surface_, in_);
    }
    WaveInput in_;
};

TEST_F(WaveTest, GridTicksCentreLineAndExtent) {
    DrawWave(surface_, in_);
    // Full-height lines every 100 px, ticks of rows 40..59 every 10 px.
    for (int x = 10; x <= 300; x += 10) {
        const bool full = x % 100 == 0;
        EXPECT_EQ(Count(kGrey, x, 1, x + 1, 100), full ? 99 : 20) << x;
        EXPECT_EQ(Count(kGrey, x, 40, x + 1, 60), 20) << x;
    }
    // Centre line; the full-height line at x = 300 (outside the edge rows)
    // reaches H-5, not H-4; edge rows black over the grid; nothing drawn
    // outside the client area.
    ExpectPixels({At{15, 49, kBlack}, At{15, 50, kGrey}, At{0, 50, kGrey}, At{300, 0, kGrey},
                  At{300, 100, kGrey}, At{300, 101, kUntouched}, At{100, 0, kBlack},
                  At{100, 100, kBlack}, At{301, 50, kUntouched}, At{0, 102, kUntouched}});
    EXPECT_EQ(Count(kGreen, 0, 0, 305, 105), 0);
}

TEST_F(WaveTest, TraceStopsAtTheRightEdgeAndClampedAmplitudesDisappear) {
    std::vector<double> half(1000, 0.5);  // y = 25
    Draw(half, 20000, 5000);              // s = 1, d = 1
    EXPECT_EQ(Count(kGreen, 0, 25, 300, 26), 300);
    EXPECT_EQ(Px(300, 25), kGrey);  // the last point (x 300) is the polyline's excluded end
    EXPECT_EQ(Count(kGreen, 0, 0, 305, 25) + Count(kGreen, 0, 26, 305, 105), 0);

    for (double v : {1.0, 3.0, -1.0, -3.0}) {
        std::vector<double> samples(1000, v);
        Draw(samples, 20000, 5000);
        EXPECT_EQ(Count(kGreen, 0, 0, 305, 105), 0) << v;
    }
    // Gain scales the amplitude: 0.25 x 2 lands on y = 25.
    std::vector<double> samples(1000, 0.25);
    in_.gain = 2.0;
    Draw(samples, 20000, 5000);
    EXPECT_EQ(Px(10, 25), kGreen);
}

TEST_F(WaveTest, DecimationStepAndItsAnchorAtSampleZero) {
    // Alternating samples: every sample plotted (s exactly 1 gives d = 1) zigzags.
    std::vector<double> alternating(1000);
    for (size_t i = 0; i < alternating.size(); ++i) alternating[i] = i % 2 ? -0.5 : 0.5;
    Draw(alternating, 20000, 5000);
    EXPECT_GT(Count(kGreen, 0, 30, 300, 70), 0);

    // s = 2 gives d = 3: only multiples of 3 are plotted, all on row 25.
    std::vector<double> thirds(2000);
    for (size_t i = 0; i < thirds.size(); ++i) thirds[i] = i % 3 ? -0.5 : 0.5;
    Draw(thirds, 40000, 5000);
    EXPECT_GT(Count(kGreen, 0, 25, 300, 26), 290);
    EXPECT_EQ(Count(kGreen, 0, 26, 305, 105), 0);

    // S = 1: the first plotted sample is 3, at x = trunc(2 / 2) = 1.
    Draw(thirds, 40000, 5000, 1);
    EXPECT_EQ(Count(kGreen, 0, 0, 1, 105) + Count(kGreen, 0, 26, 305, 105), 0);
    EXPECT_EQ(Px(1, 25), kGreen);

    // A start beyond the samples draws no trace.
    Draw(thirds, 40000, 5000, 5000);
    EXPECT_EQ(Count(kGreen, 0, 0, 305, 105), 0);
}

TEST_F(WaveTest, OutlineClosedAtRightEdgeAndOpenBeyond) {
    in_.showWindow = true;
    in_.fftSize = 299;  // x1 = 299 = W-6
    Draw({}, 20000, 5000);
    // b = H-6 is the polyline's end: (299, 100) stays black.
    ExpectPixels({At{0, 0, kWhite}, At{298, 0, kWhite}, At{299, 0, kWhite}, At{299, 30, kWhite},
                  At{299, 99, kWhite}, At{1, 99, kWhite}, At{0, 50, kWhite}, At{299, 100, kBlack}});
    in_.fftSize = 300;  // one pixel further: the right side stays open
    Draw({}, 20000, 5000);
    ExpectPixels({At{298, 0, kWhite}, At{299, 0, kBlack}, At{299, 30, kBlack}});
}

// ---- Spectrum (261 x 210) ----

class SpectrumTest : public PlotTest {
  protected:
    void SetUp() override {
        MakeSurface(261, 210);
        db_.assign(4097, -300.0);
        in_.db = db_.data();
    }
    AxisLabels Draw() { return DrawSpectrum(surface_, in_); }
    // Only the five plot colours may appear in the client area.
    void ExpectPlotColoursOnly() const {
        for (int y = 0; y <= 205; ++y) {
            for (int x = 0; x <= 256; ++x) {
                const QRgb c = Px(x, y);
                ASSERT_TRUE(c == kBlack || c == kGrey || c == kGreen || c == kWhite)
                    << x << "," << y << " " << std::hex << c;
            }
        }
    }
    std::vector<double> db_;
    SpectrumInput in_;
};

TEST_F(SpectrumTest, GridAndEdgeRows) {
    Draw();
    // Rows every 20 px up to the line at x 256; columns every 64 px.
    for (int y = 20; y <= 200; y += 20) EXPECT_EQ(Count(kGrey, 0, y, 261, y + 1), 257) << y;
    for (int x = 64; x <= 256; x += 64) EXPECT_EQ(Count(kGrey, x, 1, x + 1, 205), 204) << x;
    // Edge rows end at x 255; (256, 205) is the vertical line's excluded end.
    ExpectPixels({At{256, 0, kGrey}, At{64, 0, kBlack}, At{64, 205, kBlack}, At{256, 205, kBlack},
                  At{10, 206, kUntouched}});
    EXPECT_EQ(Count(kGreen, 0, 0, 261, 210), 0);  // -300 dB: curve on the bottom row
}

TEST_F(SpectrumTest, CurveRowsAndClamping) {
    db_.assign(db_.size(), -15.0);  // row 30
    Draw();
    EXPECT_EQ(Count(kGreen, 0, 30, 256, 31), 256);
    EXPECT_EQ(Px(256, 30), kGrey);
    EXPECT_EQ(Count(kGreen, 0, 0, 261, 30) + Count(kGreen, 0, 31, 261, 210), 0);

    const double inf = std::numeric_limits<double>::infinity();
    for (double level : {0.0, -0.4, 12.0, inf, -inf, std::nan("")}) {
        db_.assign(db_.size(), level);
        Draw();
        EXPECT_EQ(Count(kGreen, 0, 0, 261, 210), 0) << level;
    }

    // First bin above N/2: no curve at all.
    db_.assign(db_.size(), -15.0);
    in_.firstBin = 1025;
    Draw();
    EXPECT_EQ(Count(kGreen, 0, 0, 261, 210), 0);
}

TEST_F(SpectrumTest, CursorLineBounds) {
    in_.cursorBin = 0;  // no readouts
    // (on, x): the line lies in columns 0..W-6 only, and only when on.
    for (auto [on, x, white] :
         {std::tuple{true, 255, 205}, {true, 256, 0}, {true, -1, 0}, {false, 100, 0}}) {
        in_.cursorOn = on;
        in_.cursorOffset = x;
        Draw();
        EXPECT_EQ(Count(kWhite, 0, 0, 261, 210), white) << x;
        EXPECT_EQ(Count(kWhite, std::max(x, 0), 0, std::max(x, 0) + 1, 205), white) << x;
    }
}

TEST_F(SpectrumTest, ReadoutsOnBlackBoxes) {
    db_.assign(db_.size(), -14.0);  // curve on row 28, through the note readout
    in_.cursorOn = true;
    in_.cursorOffset = 200;  // line through both readouts
    in_.cursorBin = 10;      // 215 Hz: has a note name
    Draw();
    ExpectPlotColoursOnly();
    // Peak text from (131, 3) blanks the grid column 192 and the cursor line
    // under it; the note text from (161, 23) hides the curve on row 28.
    EXPECT_GT(Count(kWhite, 131, 3, 230, 15), 50);
    EXPECT_EQ(Count(kGrey, 131, 3, 230, 15), 0);
    EXPECT_LT(Count(kWhite, 200, 3, 201, 15), 12);
    EXPECT_EQ(Count(kGreen, 161, 23, 235, 35), 0);
    EXPECT_EQ(Px(100, 28), kGreen);

    // Bins outside 1..N/2 get no readout: only the line is white.
    for (int bin : {0, 1025}) {
        in_.cursorBin = bin;
        Draw();
        EXPECT_EQ(Count(kWhite, 0, 0, 261, 210), 205) << bin;
    }
}

// ---- Play-state panel (144 x 23) ----

TEST_F(PlotTest, StatusTextIsGreenOnBlack) {
    MakeSurface(144, 23);
    DrawStatus(surface_, "再生中...");
    // No blended pixels; the 10-pixel cell from (3, 3) holds all the green.
    const int green = Count(kGreen, 3, 3, 140, 13);
    EXPECT_GT(green, 20);
    EXPECT_EQ(green + Count(kBlack, 0, 0, 140, 19), 140 * 19);
    DrawStatus(surface_, "");
    EXPECT_EQ(Count(kBlack, 0, 0, 140, 19), 140 * 19);
}

// ---- The frame around a plot ----

TEST_F(PlotTest, FrameShowsTheVisibleRectangleInsideTheEdge) {
    PlotFrame frame(261, 210);
    EXPECT_EQ(frame.size(), QSize(261, 210));
    EXPECT_TRUE(frame.testAttribute(Qt::WA_TransparentForMouseEvents));

    QImage surface = CreatePlotSurface(261, 210);
    SpectrumInput in;  // no spectrum: grid only
    DrawSpectrum(surface, in);
    frame.setSurface(surface);

    // Columns 0..W-6 and rows 0..H-6: the grid line at x 256 is not shown.
    ASSERT_EQ(frame.shownImage(), surface.copy(0, 0, 256, 205));

    const QImage painted = frame.grab().toImage();
    EXPECT_EQ(painted.pixel(2 + 192, 2 + 100) & 0xffffff, 0x787878u);
    EXPECT_EQ(painted.pixel(2 + 10, 2 + 20) & 0xffffff, 0x787878u);
    EXPECT_EQ(painted.pixel(2 + 10, 2 + 21) & 0xffffff, 0x000000u);
}

// ---- Spectrum cursor geometry ----

TEST(CursorTest, BinUnderPixel) {
    // 44100 Hz, N 2048, 500 Hz/div: 2.75625 pixels per bin.
    EXPECT_EQ(CursorBinAt(1, 100, 500, 44100, 2048), 37);
    EXPECT_EQ(CursorBinAt(11, 100, 500, 44100, 2048), 47);
    EXPECT_EQ(CursorBinAt(1, 0, 500, 44100, 2048), 1);
    EXPECT_EQ(CursorBinAt(1, -50, 500, 44100, 2048), 1);  // left of the plot
    EXPECT_EQ(CursorBinAt(1, 100, 500, 44100, 4096), 73);
}

TEST(CursorTest, HitBandIsThirteenPixelsWide) {
    // (x, y) around a line at 100 on a 210 px high plot; the button must be on.
    for (auto [x, y, hit] : {std::tuple{94, 50, true},
                             {106, 50, true},
                             {93, 50, false},
                             {107, 50, false},
                             {100, 0, true},
                             {100, 209, true},
                             {100, -1, false},
                             {100, 210, false}})
        EXPECT_EQ(HitTestCursor(true, 100, x, y, 210), hit) << x << "," << y;
    EXPECT_FALSE(HitTestCursor(false, 100, 100, 50, 210));
}

TEST(CursorTest, SpinStepsStayInsideThePlot) {
    // 8192 Hz, N 512, 1024 Hz/div: exactly one pixel per bin.
    int bin = 255, offset = 0;
    auto spin = [&](int delta) {
        return SpinCursor(delta, 1, 1024, 8192, 512, 261, &bin, &offset);
    };
    ASSERT_TRUE(spin(-1));   // to x = W-6
    EXPECT_FALSE(spin(-1));  // x = W-5: refused, nothing moves
    EXPECT_EQ(std::pair(bin, offset), std::pair(256, 255));
    bin = 1;
    offset = 0;
    EXPECT_FALSE(spin(+1));  // x = -1
    ASSERT_TRUE(spin(-1));
    ASSERT_TRUE(spin(+1));
    EXPECT_EQ(std::pair(bin, offset), std::pair(1, 0));
}

}  // namespace
}  // namespace vurma::display
