// Option labels and the FFT-size change rule.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/settings.h"

namespace vurma {
namespace {

TEST(LabelTest, FullListsInTableOrder) {
    std::vector<std::string> fft, gain, time, freq;
    for (int v : g_nFftSize) fft.push_back(FftSizeLabel(v));
    for (double v : g_dGain) gain.push_back(GainLabel(v));
    for (int v : g_nTimeScale) time.push_back(TimeScaleLabel(v));
    for (double v : g_dFreqScale) freq.push_back(FreqScaleLabel(v));
    EXPECT_EQ(fft, (std::vector<std::string>{"512", "1024", "2048", "4096"}));
    EXPECT_EQ(gain, (std::vector<std::string>{"0.1", "0.2", "0.5", "1", "2", "5", "10", "20", "50",
                                              "100"}));
    EXPECT_EQ(time,
              (std::vector<std::string>{"100uS/Div", "200uS/Div", "500uS/Div", "1mS/Div", "2mS/Div",
                                        "5mS/Div", "10mS/Div", "20mS/Div", "50mS/Div", "100mS/Div",
                                        "200mS/Div", "500mS/Div", "1S/Div"}));
    EXPECT_EQ(freq, (std::vector<std::string>{"50Hz/Div", "100Hz/Div", "200Hz/Div", "500Hz/Div",
                                              "1KHz/Div", "2KHz/Div", "5KHz/Div", "10KHz/Div"}));
}

TEST(LabelTest, UnitBoundaries) {
    EXPECT_EQ(TimeScaleLabel(999), "999uS/Div");
    EXPECT_EQ(TimeScaleLabel(1999), "1mS/Div");  // truncated, not rounded
    EXPECT_EQ(TimeScaleLabel(999999), "999mS/Div");
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
