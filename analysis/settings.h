// Option tables behind the five analysis lists, their labels and defaults,
// and the rule that guards a change of the FFT size.
#pragma once

#include <string>

#include "ui_text.h"

namespace vurma {

inline constexpr int kFftSizeCount = 4;
inline constexpr int g_nFftSize[kFftSizeCount] = {512, 1024, 2048, 4096};
inline constexpr int g_nFftExp[kFftSizeCount] = {9, 10, 11, 12};

inline constexpr int kGainCount = 10;
inline constexpr double g_dGain[kGainCount] = {0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 50, 100};

// Microseconds per division of the waveform plot.
inline constexpr int kTimeScaleCount = 13;
inline constexpr int g_nTimeScale[kTimeScaleCount] = {
    100, 200, 500, 1000, 2000, 5000, 10000, 20000, 50000, 100000, 200000, 500000, 1000000};

// Hz per division of the spectrum plot.
inline constexpr int kFreqScaleCount = 8;
inline constexpr double g_dFreqScale[kFreqScaleCount] = {50,   100,  200,  500,
                                                         1000, 2000, 5000, 10000};

inline constexpr int kDefaultFftIndex = 2;        // 2048
inline constexpr int kDefaultGainIndex = 3;       // 1
inline constexpr int kDefaultWindowIndex = 2;     // "Humming"
inline constexpr int kDefaultTimeScaleIndex = 5;  // 5mS/Div
inline constexpr int kDefaultFreqScaleIndex = 3;  // 500Hz/Div
inline constexpr int kDefaultSampleCountSel = 2048;

inline constexpr char kMsgTooFewSamplesForChoice[] =
    UI_TEXT("ﾃﾞｰﾀのｻﾝﾌﾟﾙ数が少ないので選択できません。  ");

std::string FftSizeLabel(int size);            // "%d"
std::string GainLabel(double gain);            // "%g"
std::string TimeScaleLabel(int microseconds);  // 100uS/Div, 1mS/Div, 1S/Div
std::string FreqScaleLabel(double hz);         // 50Hz/Div, 1KHz/Div

// Outcome of selecting FFT-size index `requestedIndex` while `nSamples`
// samples are in the store: refused selections fall back to index 0 (512).
struct FftSizeChange {
    bool refused = false;
    int selectedIndex = 0;  // the index the list must show afterwards
    int size = 512;         // g_nFftSize[selectedIndex]
};
FftSizeChange DecideFftSizeChange(int requestedIndex, int nSamples);

// New frequency-slider position after the size changes from oldSize (the
// previous accepted size) to newSize: trunc(newSize * (pos - 1) / oldSize) + 1.
int RescaleFreqSliderPos(int pos, int newSize, int oldSize);

}  // namespace vurma
