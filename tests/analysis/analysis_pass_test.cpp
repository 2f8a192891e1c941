// The analysis pass end to end, the peak search and the two readouts.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "analysis/analysis_pass.h"
#include "analysis/settings.h"
#include "analysis/window_functions.h"

namespace vurma {
namespace {

int CountChars(const std::string& s) {
    int n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

class AnalyzeTest : public testing::Test {
  protected:
    void Fill(int n, double amplitude, int bin, int N) {
        samples.assign(n, 0.0);
        for (int i = 0; i < n; ++i)
            samples[i] = amplitude * std::sin(2 * std::numbers::pi * bin * i / N + 0.5);
        windowed.assign(n, 7.0);
    }
    bool Run(int n, int start, int rate, int fftIndex, int gainIndex = 3, int windowIndex = 0) {
        AnalysisSettings s;
        s.fftIndex = fftIndex;
        s.gainIndex = gainIndex;
        s.windowIndex = windowIndex;
        return Analyze(samples.data(), windowed.data(), n, start, rate, s, *spectrum, &result);
    }

    std::vector<double> samples;
    std::vector<double> windowed;
    std::unique_ptr<SpectrumArrays> spectrum = std::make_unique<SpectrumArrays>();
    AnalysisResult result;
};

TEST_F(AnalyzeTest, ReadsLevelAndTruncatedFrequencyOfTheTone) {
    // 44100 Hz, N = 2048, bin 46 (990.53 Hz) at -12.25 dB.
    Fill(5000, std::pow(10.0, -12.25 / 20), 46, 2048);
    ASSERT_TRUE(Run(5000, 0, 44100, 2));
    EXPECT_EQ(result.peakBin, 46);
    EXPECT_EQ(result.peakText, " -12.25dB@  990Hz");
    EXPECT_EQ(result.noteText, " ｵｸﾀｰﾌﾞ 4   ｼ");  // 990.5 Hz lies in 512..1024
}

TEST_F(AnalyzeTest, FrameMustFitAndAFailedPassTouchesNothing) {
    Fill(3000, 0.5, 10, 1024);
    ASSERT_TRUE(Run(3000, 3000 - 1024, 8000, 1));  // the frame ends on the last sample
    EXPECT_EQ(result.peakBin, 10);

    const std::vector<double> dbBefore(spectrum->db, spectrum->db + kSpectrumSlots);
    const std::vector<double> windowedBefore = windowed;
    const AnalysisResult resultBefore = result;
    // One sample too far, 4096 > 3000, no file, a negative start.
    EXPECT_FALSE(Run(3000, 3000 - 1024 + 1, 8000, 1));
    EXPECT_FALSE(Run(3000, 0, 8000, 3));
    EXPECT_FALSE(Run(0, 0, 8000, 0));
    EXPECT_FALSE(Run(3000, -1, 8000, 0));
    EXPECT_EQ(std::vector<double>(spectrum->db, spectrum->db + kSpectrumSlots), dbBefore);
    EXPECT_EQ(windowed, windowedBefore);
    EXPECT_EQ(result.peakText, resultBefore.peakText);
    EXPECT_EQ(result.noteText, resultBefore.noteText);
}

TEST_F(AnalyzeTest, WindowsAndAmplifiesOnlyTheFrame) {
    Fill(2000, 0.3, 5, 512);
    ASSERT_TRUE(Run(2000, 100, 8000, 0, 4 /* x2 */, 1 /* Hanning */));
    for (int i = 0; i < 2000; ++i) {
        if (i < 100 || i >= 612)
            EXPECT_EQ(windowed[i], 7.0) << i;
        else
            EXPECT_EQ(windowed[i], WindowHanning(i - 100, 512) * samples[i] * 2.0) << i;
    }
}

TEST_F(AnalyzeTest, SilenceKeepsPeakAtBinOne) {
    samples.assign(2048, 0.0);
    windowed.assign(2048, 0.0);
    ASSERT_TRUE(Run(2048, 0, 44100, 2));
    EXPECT_EQ(result.peakBin, 1);
    EXPECT_NE(result.peakText.find("inf"), std::string::npos);
    EXPECT_NE(result.peakText.find("dB@   21Hz"), std::string::npos);  // 44100 / 2048
    EXPECT_EQ(result.noteText, "");                                    // below 64 Hz
}

TEST(PeakTest, StrictlyGreaterWinsSoTheLowerOfEqualBinsIsKept) {
    std::vector<double> db(kSpectrumSlots, -50.0);
    db[0] = 100.0;  // DC is never a candidate
    db[3] = 5.0;
    db[7] = 5.0;
    db[300] = 90.0;  // above N/2 for N = 512
    EXPECT_EQ(FindPeakBin(db.data(), 512), 3);
    EXPECT_EQ(FindPeakBin(db.data(), 1024), 300);

    std::vector<double> floor(kSpectrumSlots, -1000.0);
    EXPECT_EQ(FindPeakBin(floor.data(), 4096), 1);
    floor[2048] = -999.0;
    EXPECT_EQ(FindPeakBin(floor.data(), 4096), 2048);
}

TEST(FormatTest, PeakTruncatesTheFrequency) {
    EXPECT_EQ(FormatPeak(3.456, 93, 2048, 44100), "   3.46dB@ 2002Hz");
    EXPECT_EQ(FormatPeak(-123.456, 2048, 4096, 48000), "-123.46dB@24000Hz");
}

TEST(FormatTest, NoteAtOctaveAndSemitoneBoundaries) {
    const struct {
        int bin, N, rate;
        const char* note;
    } cases[] = {
        // 8000 Hz, N = 512: bin 4 is 62.5 Hz (no note), bin 5 78.125 Hz.
        {0, 512, 8000, ""},
        {4, 512, 8000, ""},
        {5, 512, 8000, " ｵｸﾀｰﾌﾞ 1  ﾚ#"},
        {64, 512, 8000, " ｵｸﾀｰﾌﾞ 4   ｼ"},
        // 16384 Hz, N = 1024: bin k is 16 k Hz, so powers of two are exact.
        {4, 1024, 16384, " ｵｸﾀｰﾌﾞ 1  ﾄﾞ"},
        {31, 1024, 16384, " ｵｸﾀｰﾌﾞ 3   ｼ"},
        {32, 1024, 16384, " ｵｸﾀｰﾌﾞ 4  ﾄﾞ"},
        // 440 Hz is la of octave 3 on this power-of-two scale; 455 Hz (r = 1.777)
        // is still la, the semitone at or below, not the nearest.
        {8, 512, 28160, " ｵｸﾀｰﾌﾞ 3   ﾗ"},
        {455, 1000, 1000, " ｵｸﾀｰﾌﾞ 3   ﾗ"},
        {22, 1000, 16000, " ｵｸﾀｰﾌﾞ 3  ﾌｧ"},  // 352 Hz
    };
    for (const auto& c : cases) EXPECT_EQ(FormatNote(c.bin, c.N, c.rate), c.note) << c.bin;
}

TEST(FormatTest, NoteHasThirteenCharactersForEveryBinFrom64Hz) {
    for (int k = 0; k <= 2048; ++k) {
        const std::string note = FormatNote(k, 4096, 44100);
        if (44100.0 * k / 4096 < 64) {
            EXPECT_EQ(note, "") << k;
        } else {
            EXPECT_EQ(CountChars(note), 13) << k;
            EXPECT_EQ(note.rfind(" ｵｸﾀｰﾌﾞ", 0), 0u) << k;
        }
    }
}

}  // namespace
}  // namespace vurma
