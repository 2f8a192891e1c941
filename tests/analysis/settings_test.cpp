// Option labels and the FFT-size change rule.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/settings.h"

namespace vurma {
namespace {

// The window shows the lists; here the unit changes and the truncation.
TEST(LabelTest, UnitBoundaries) {
    EXPECT_EQ(FftSizeLabel(4096), "4096");
    EXPECT_EQ(GainLabel(0.1), "0.1");
    EXPECT_EQ(TimeScaleLabel(999), "999uS/Div");
    EXPECT_EQ(TimeScaleLabel(1999), "1mS/Div");  // truncated, not rounded
    EXPECT_EQ(TimeScaleLabel(1000000), "1S/Div");
    EXPECT_EQ(FreqScaleLabel(999), "999Hz/Div");
    EXPECT_EQ(FreqScaleLabel(2500), "2.5KHz/Div");
}

TEST(FftSizeChangeTest, RefusalFallsBackToTheFirstSize) {
    const struct {
        int index, samples;
        bool refused;
        int selectedIndex, size;
    } cases[] = {
        {3, 0, true, 0, 512},        // before any file
        {3, 3000, true, 0, 512},     // not back to 2048
        {-1, 100000, true, 0, 512},  // out of range either way
        {4, 100000, true, 0, 512},
        {1, 2048, false, 1, 1024},  // live frame of 2048: smaller is fine
        {3, 4096, false, 3, 4096},
    };
    for (const auto& c : cases) {
        const FftSizeChange change = DecideFftSizeChange(c.index, c.samples);
        EXPECT_EQ(change.refused, c.refused) << c.index << " " << c.samples;
        EXPECT_EQ(change.selectedIndex, c.selectedIndex) << c.index << " " << c.samples;
        EXPECT_EQ(change.size, c.size) << c.index << " " << c.samples;
    }
}

TEST(FftSizeChangeTest, SliderKeepsAboutTheSameFrequency) {
    EXPECT_EQ(RescaleFreqSliderPos(1, 512, 4096), 1);
    EXPECT_EQ(RescaleFreqSliderPos(4097, 512, 4096), 513);
    EXPECT_EQ(RescaleFreqSliderPos(2048, 512, 2048), 512);  // trunc(511.75) + 1
}

}  // namespace
}  // namespace vurma
