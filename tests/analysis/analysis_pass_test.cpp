// The analysis pass end to end, the peak search and the two readouts.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "analysis/analysis_pass.h"
#include "analysis/settings.h"
#include "analysis/window_functions.h"

namespace vurma {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kNegInf = -std::numeric_limits<double>::infinity();

int CountChars(const std::string& s) {
    int n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

class AnalyzeTest : public testing::Test {
  protected:
    void Fill(int n, double amplitude, int bin, int N, double offset = 0.0) {
        samples.assign(n, 0.0);
        for (int i = 0; i < n; ++i)
            samples[i] = offset + amplitude * std::sin(2 * kPi * bin * i / N + 0.5);
        windowed.assign(n, 7.0);
    }

    AnalysisSettings Rectangular(int fftIndex) {
        AnalysisSettings s;
        s.fftIndex = fftIndex;
        s.gainIndex = 3;  // 1
        s.windowIndex = 0;
        return s;
    }

    std::vector<double> samples;
    std::vector<double> windowed;
    std::unique_ptr<SpectrumArrays> spectrum = std::make_unique<SpectrumArrays>();
    AnalysisResult result;
};

TEST_F(AnalyzeTest, ReadsLevelAndTruncatedFrequencyOfTheTone) {
    // 44100 Hz, N = 2048, bin 46 (990.53 Hz) at -12.25 dB.
    Fill(5000, std::pow(10.0, -12.25 / 20), 46, 2048);
    ASSERT_TRUE(Analyze(samples.data(), windowed.data(), 5000, 0, 44100, Rectangular(2), *spectrum,
                        &result));
    EXPECT_EQ(result.peakBin, 46);
    EXPECT_EQ(result.peakText, " -12.25dB@  990Hz");
    EXPECT_EQ(result.noteText, " ｵｸﾀｰﾌﾞ 4   ｼ");  // 990.5 Hz lies in 512..1024
}

TEST_F(AnalyzeTest, FrameMustFitAndAFailedPassTouchesNothing) {
    Fill(3000, 0.5, 10, 1024);
    // Frame ending exactly on the last sample is analysed.
    ASSERT_TRUE(Analyze(samples.data(), windowed.data(), 3000, 3000 - 1024, 8000, Rectangular(1),
                        *spectrum, &result));
    EXPECT_EQ(result.peakBin, 10);

    const std::vector<double> dbBefore(spectrum->db, spectrum->db + kSpectrumSlots);
    const std::vector<double> windowedBefore = windowed;
    const AnalysisResult resultBefore = result;
    EXPECT_FALSE(Analyze(samples.data(), windowed.data(), 3000, 3000 - 1024 + 1, 8000,
                         Rectangular(1), *spectrum, &result));
    EXPECT_FALSE(Analyze(samples.data(), windowed.data(), 3000, 0, 8000, Rectangular(3), *spectrum,
                         &result));  // 4096 > 3000
    EXPECT_FALSE(Analyze(samples.data(), windowed.data(), 0, 0, 8000, Rectangular(0), *spectrum,
                         &result));  // no file
    EXPECT_FALSE(Analyze(samples.data(), windowed.data(), 3000, -1, 8000, Rectangular(0), *spectrum,
                         &result));
    EXPECT_EQ(std::vector<double>(spectrum->db, spectrum->db + kSpectrumSlots), dbBefore);
    EXPECT_EQ(windowed, windowedBefore);
    EXPECT_EQ(result.peakText, resultBefore.peakText);
    EXPECT_EQ(result.noteText, resultBefore.noteText);
}

TEST_F(AnalyzeTest, WindowsAndAmplifiesOnlyTheFrame) {
    Fill(2000, 0.3, 5, 512);
    AnalysisSettings s;
    s.fftIndex = 0;
    s.gainIndex = 4;  // 2
    s.windowIndex = 1;
    ASSERT_TRUE(Analyze(samples.data(), windowed.data(), 2000, 100, 8000, s, *spectrum, &result));
    for (int i = 0; i < 2000; ++i) {
        if (i < 100 || i >= 612)
            EXPECT_EQ(windowed[i], 7.0) << i;
        else
            EXPECT_EQ(windowed[i], WindowHanning(i - 100, 512) * samples[i] * 2.0) << i;
    }
}

TEST_F(AnalyzeTest, NyquistIsSearchedAndDcIsNot) {
    samples.assign(512, 0.0);
    for (int i = 0; i < 512; ++i) samples[i] = 0.1 * (i % 2 ? -1 : 1);
    windowed.assign(512, 0.0);
    ASSERT_TRUE(
        Analyze(samples.data(), windowed.data(), 512, 0, 8000, Rectangular(0), *spectrum, &result));
    EXPECT_EQ(result.peakBin, 256);

    Fill(1024, 0.01, 20, 1024, 0.9);  // strong DC offset, weak tone
    ASSERT_TRUE(Analyze(samples.data(), windowed.data(), 1024, 0, 8000, Rectangular(1), *spectrum,
                        &result));
    EXPECT_GT(spectrum->db[0], spectrum->db[20]);
    EXPECT_EQ(result.peakBin, 20);
}

TEST_F(AnalyzeTest, SilenceKeepsPeakAtBinOne) {
    samples.assign(2048, 0.0);
    windowed.assign(2048, 0.0);
    ASSERT_TRUE(Analyze(samples.data(), windowed.data(), 2048, 0, 44100, Rectangular(2), *spectrum,
                        &result));
    EXPECT_EQ(result.peakBin, 1);
    EXPECT_EQ(spectrum->db[1], kNegInf);
    EXPECT_NE(result.peakText.find("inf"), std::string::npos);
    EXPECT_NE(result.peakText.find("dB@   21Hz"), std::string::npos);  // 44100 / 2048
    EXPECT_EQ(result.noteText, "");                                    // below 64 Hz
}

TEST(PeakTest, StrictlyGreaterWinsSoTheLowerOfEqualBinsIsKept) {
    std::vector<double> db(kSpectrumSlots, -50.0);
    db[0] = 100.0;  // DC is never a candidate
    db[3] = 5.0;
    db[7] = 5.0;
    EXPECT_EQ(FindPeakBin(db.data(), 512), 3);
    db[300] = 90.0;  // above N/2 for N = 512
    EXPECT_EQ(FindPeakBin(db.data(), 512), 3);
    EXPECT_EQ(FindPeakBin(db.data(), 1024), 300);

    std::vector<double> floor(kSpectrumSlots, -1000.0);
    EXPECT_EQ(FindPeakBin(floor.data(), 4096), 1);
    floor[2048] = -999.0;
    EXPECT_EQ(FindPeakBin(floor.data(), 4096), 2048);
}

TEST(FormatTest, PeakTruncatesTheFrequency) {
    EXPECT_EQ(FormatPeak(-12.25, 46, 2048, 44100), " -12.25dB@  990Hz");
    EXPECT_EQ(FormatPeak(0.0, 47, 2048, 44100), "   0.00dB@ 1012Hz");
    EXPECT_EQ(FormatPeak(3.456, 93, 2048, 44100), "   3.46dB@ 2002Hz");
    EXPECT_EQ(FormatPeak(-123.456, 2048, 4096, 48000), "-123.46dB@24000Hz");
}

TEST(FormatTest, NoteAtOctaveAndSemitoneBoundaries) {
    // 8000 Hz, N = 512: bin 4 is 62.5 Hz (no note), bin 5 78.125 Hz.
    EXPECT_EQ(FormatNote(4, 512, 8000), "");
    EXPECT_EQ(FormatNote(5, 512, 8000), " ｵｸﾀｰﾌﾞ 1  ﾚ#");
    EXPECT_EQ(FormatNote(64, 512, 8000), " ｵｸﾀｰﾌﾞ 4   ｼ");  // 1000 Hz
    // 16384 Hz, N = 1024: bin k is 16 k Hz, so powers of two are exact.
    EXPECT_EQ(FormatNote(4, 1024, 16384), " ｵｸﾀｰﾌﾞ 1  ﾄﾞ");   // 64 Hz
    EXPECT_EQ(FormatNote(16, 1024, 16384), " ｵｸﾀｰﾌﾞ 3  ﾄﾞ");  // 256 Hz
    EXPECT_EQ(FormatNote(31, 1024, 16384), " ｵｸﾀｰﾌﾞ 3   ｼ");  // 496 Hz
    EXPECT_EQ(FormatNote(32, 1024, 16384), " ｵｸﾀｰﾌﾞ 4  ﾄﾞ");  // 512 Hz
    // 440 Hz is la of octave 3 on this power-of-two scale; 455 Hz (r = 1.777)
    // is still la, the semitone at or below, not the nearest.
    EXPECT_EQ(FormatNote(8, 512, 28160), " ｵｸﾀｰﾌﾞ 3   ﾗ");
    EXPECT_EQ(FormatNote(455, 1000, 1000), " ｵｸﾀｰﾌﾞ 3   ﾗ");
    EXPECT_EQ(FormatNote(3, 512, 8000), "");  // 46.9 Hz
    EXPECT_EQ(FormatNote(0, 512, 8000), "");
}

TEST(FormatTest, NoteHasThirteenCharactersForEveryBinFrom64Hz) {
    for (int k = 0; k <= 2048; ++k) {
        const std::string note = FormatNote(k, 4096, 44100);
        const double f = 44100.0 * k / 4096;
        if (f < 64) {
            EXPECT_EQ(note, "") << k;
        } else {
            EXPECT_EQ(CountChars(note), 13) << k;
            EXPECT_EQ(note.rfind(" ｵｸﾀｰﾌﾞ", 0), 0u) << k;
        }
    }
}

TEST(FormatTest, NoteTables) {
    EXPECT_EQ(g_dSemitone[0], 1.0);
    EXPECT_EQ(g_dSemitone[12], 2.0);
    for (int i = 0; i <= 12; ++i) EXPECT_NEAR(g_dSemitone[i], std::exp2(i / 12.0), 5e-7) << i;
    EXPECT_STREQ(g_strNoteName[5], "ﾌｧ");
    EXPECT_STREQ(g_strNoteName[12], g_strNoteName[0]);
}

TEST(FormatTest, PadLeftCountsCharactersNotBytes) {
    EXPECT_EQ(PadLeftChars("ﾄﾞ", 3), " ﾄﾞ");
    EXPECT_EQ(PadLeftChars("ﾌｧ#", 3), "ﾌｧ#");
    EXPECT_EQ(PadLeftChars("abcd", 3), "abcd");
    EXPECT_EQ(PadLeftChars("", 2), "  ");
}

}  // namespace
}  // namespace vurma
