#include "analysis/span_spectrum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

#include "analysis/spectrum_peaks.h"
#include "analysis/worker_pool.h"

namespace vurma {
namespace {

constexpr int kRate = 44100;

// Interleaved stereo PCM of `frames` frames: left(t), right(t) in full-scale units.
std::vector<std::uint8_t> Stereo(int frames, int bits, const std::function<double(int)>& left,
                                 const std::function<double(int)>& right, bool isFloat = false) {
    const int bytes = bits / 8;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(frames) * 2 * bytes);
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < 2; ++c) {
            const double v = c == 0 ? left(i) : right(i);
            std::uint8_t* p = out.data() + (static_cast<std::size_t>(i) * 2 + c) * bytes;
            if (isFloat) {
                const float f = static_cast<float>(v);
                std::memcpy(p, &f, 4);
                continue;
            }
            if (bits == 8) {
                p[0] = static_cast<std::uint8_t>(std::clamp(std::lround(v * 128 + 128), 0L, 255L));
                continue;
            }
            const double full = std::ldexp(1.0, bits - 1);
            const auto x = static_cast<std::int64_t>(
                std::clamp<double>(std::round(v * full), -full, full - 1));
            for (int b = 0; b < bytes; ++b) p[b] = static_cast<std::uint8_t>(x >> (8 * b));
        }
    }
    return out;
}

std::function<double(int)> Sine(double hz, double dbfs) {
    const double a = std::pow(10.0, dbfs / 20);
    return [=](int i) { return a * std::sin(2 * std::numbers::pi * hz * i / kRate); };
}
double Silence(int) { return 0.0; }

SpanSpectrum Analyse(const std::vector<std::uint8_t>& pcm, int bits, SpanSpectrumSettings settings,
                     WorkerPool* pool = nullptr, bool isFloat = false) {
    SpanAccumulator acc(settings, kRate, {2, bits, isFloat}, pool);
    acc.Feed(pcm.data(), pcm.size());
    return acc.Finish();
}

double Highest(const std::vector<double>& db) { return *std::max_element(db.begin(), db.end()); }

TEST(SpanSpectrum, ToneIsFoundAtItsFrequencyAndLevel) {
    struct Case {
        WindowShape window;
        double hz, dbfs, hzTolerance, dbTolerance;
    } cases[] = {
        {WindowShape::kHann, 1000.3, -6.02, 0.05, 0.05},
        {WindowShape::kFlatTop, 1000.3, -6.02, 0.2, 0.1},
        {WindowShape::kFlatTop, 440.0, 0.0, 0.2, 0.1},
        {WindowShape::kRectangular, 440.0, -10.0, 0.2, 0.5},
        {WindowShape::kBlackmanHarris, 5123.4, -20.0, 0.05, 0.05},
    };
    for (const Case& c : cases) {
        SpanSpectrumSettings settings;
        settings.fftSize = 65536;
        settings.window = c.window;
        const auto pcm = Stereo(65536 * 2, 32, Sine(c.hz, c.dbfs), Sine(c.hz, c.dbfs), true);
        const SpanSpectrum s = Analyse(pcm, 32, settings, nullptr, true);
        ASSERT_EQ(s.frames, 3);
        const auto peaks =
            FindSpectrumPeaks(s.curves[0].averageDb, s.HzPerBin(), 1, kSpanFloorDb, c.window);
        ASSERT_EQ(peaks.size(), 1u);
        SCOPED_TRACE(WindowShapeName(c.window));
        EXPECT_NEAR(peaks[0].hz, c.hz, c.hzTolerance);
        EXPECT_NEAR(peaks[0].db, c.dbfs, c.dbTolerance);
    }
}

TEST(SpanSpectrum, EverySampleFormatReadsFullScaleAsZeroDbfs) {
    SpanSpectrumSettings settings;
    settings.fftSize = 4096;
    settings.window = WindowShape::kFlatTop;
    for (int bits : {8, 16, 24, 32}) {
        for (bool isFloat : {false, true}) {
            if (isFloat && bits != 32) continue;
            const double dbfs = bits == 8 ? -0.1 : 0.0;  // 8 bits clip just below full scale
            const auto pcm = Stereo(16384, bits, Sine(1000, dbfs), Silence, isFloat);
            const SpanSpectrum s = Analyse(pcm, bits, settings, nullptr, isFloat);
            ASSERT_EQ(s.curves.size(), 1u);
            // The mix of a tone and silence is half of it: -6.02 dB.
            EXPECT_NEAR(Highest(s.curves[0].averageDb), dbfs - 6.02, 0.1)
                << bits << (isFloat ? " float" : "");
        }
    }
}

TEST(SpanSpectrum, AveragingFlattensNoiseWhereOneFrameDoesNot) {
    std::mt19937 rng(3);
    std::normal_distribution<double> gauss(0.0, 0.1);
    std::vector<double> noise(512 * 1500);
    for (double& v : noise) v = gauss(rng);
    const auto white = [&](int i) { return noise[i]; };
    SpanSpectrumSettings settings;
    settings.fftSize = 512;
    const auto spread = [](const std::vector<double>& db) {
        // Bins 1 .. N/2-1: DC and Nyquist are real-valued and spread more.
        const auto [lo, hi] = std::minmax_element(db.begin() + 1, db.end() - 1);
        double mean = 0;
        for (std::size_t k = 1; k + 1 < db.size(); ++k) mean += db[k];
        mean /= db.size() - 2;
        return std::max(*hi - mean, mean - *lo);
    };
    const auto all = Stereo(static_cast<int>(noise.size()), 32, white, white, true);
    const SpanSpectrum averaged = Analyse(all, 32, settings, nullptr, true);
    const auto one = Stereo(512, 32, white, white, true);
    const SpanSpectrum single = Analyse(one, 32, settings, nullptr, true);
    ASSERT_EQ(single.frames, 1);
    EXPECT_LT(spread(averaged.curves[0].averageDb), 1.0);
    EXPECT_GT(spread(single.curves[0].averageDb), 1.0);
    for (const SpanSpectrum* s : {&averaged, &single})
        for (int k = 0; k < s->bins(); ++k)
            ASSERT_GE(s->curves[0].maxDb[k], s->curves[0].averageDb[k]) << k;
}

TEST(SpanSpectrum, ChannelSetsKeepTheirSides) {
    SpanSpectrumSettings settings;
    settings.fftSize = 2048;
    settings.window = WindowShape::kFlatTop;
    settings.channels = AllSpectrumChannels(2);
    const auto channelLevel = [&](const SpanSpectrum& s, SpectrumChannel c) {
        for (const SpectrumCurves& curves : s.curves)
            if (curves.channel == c) return Highest(curves.averageDb);
        ADD_FAILURE() << SpectrumChannelName(c) << " missing";
        return 0.0;
    };
    // A tone on the left only: in left, mix and mid, not in right.
    const SpanSpectrum leftOnly = Analyse(Stereo(8192, 16, Sine(1000, -6), Silence), 16, settings);
    ASSERT_EQ(leftOnly.curves.size(), 5u);
    EXPECT_NEAR(channelLevel(leftOnly, SpectrumChannel::kLeft), -6, 0.5);
    EXPECT_NEAR(channelLevel(leftOnly, SpectrumChannel::kMid), -12, 0.5);
    EXPECT_NEAR(channelLevel(leftOnly, SpectrumChannel::kMix), -12, 0.5);
    EXPECT_EQ(channelLevel(leftOnly, SpectrumChannel::kRight), kSpanFloorDb);
    // The same signal on both sides leaves nothing in side.
    const SpanSpectrum same =
        Analyse(Stereo(8192, 16, Sine(1000, -6), Sine(1000, -6)), 16, settings);
    EXPECT_NEAR(channelLevel(same, SpectrumChannel::kMid), -6, 0.5);
    EXPECT_EQ(channelLevel(same, SpectrumChannel::kSide), kSpanFloorDb);
}

TEST(SpanSpectrum, SpanShorterThanOneFrameGivesNoCurve) {
    SpanSpectrumSettings settings;
    settings.fftSize = 4096;
    const SpanSpectrum s = Analyse(Stereo(4095, 16, Sine(1000, 0), Silence), 16, settings);
    EXPECT_EQ(s.frames, 0);
    EXPECT_TRUE(s.curves.empty());
    EXPECT_EQ(SpanFrameCount(4095, 4096), 0);
    EXPECT_EQ(SpanFrameCount(4096, 4096), 1);
    EXPECT_EQ(SpanFrameCount(4096 + 2047, 4096), 1);
    EXPECT_EQ(SpanFrameCount(4096 + 2048, 4096), 2);
}

// The window computes on the pool from the capture, the command line from
// a streaming decode in chunks of any size: both must give the same numbers.
TEST(SpanSpectrum, ChunkingAndThreadsDoNotChangeTheResult) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> uniform(-0.5, 0.5);
    std::vector<double> l(200000), r(200000);
    for (std::size_t i = 0; i < l.size(); ++i) {
        l[i] = uniform(rng);
        r[i] = uniform(rng) * 0.3;
    }
    const auto pcm = Stereo(
        200000, 24, [&](int i) { return l[i]; }, [&](int i) { return r[i]; });
    SpanSpectrumSettings settings;
    settings.fftSize = 1024;
    settings.channels = {SpectrumChannel::kSide, SpectrumChannel::kMix};
    const SpanSpectrum whole = Analyse(pcm, 24, settings);
    ASSERT_EQ(whole.frames, SpanFrameCount(200000, 1024));

    WorkerPool pool(3, false);
    SpanAccumulator acc(settings, kRate, {2, 24, false}, &pool);
    std::uniform_int_distribution<std::size_t> chunk(1, 40000);
    for (std::size_t at = 0; at < pcm.size();) {
        const std::size_t take = std::min(chunk(rng), pcm.size() - at);
        ASSERT_TRUE(acc.Feed(pcm.data() + at, take));
        at += take;
    }
    const SpanSpectrum chunked = acc.Finish();
    ASSERT_EQ(chunked.frames, whole.frames);
    ASSERT_EQ(chunked.curves.size(), 2u);
    EXPECT_EQ(chunked.curves[0].channel, SpectrumChannel::kSide);
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(chunked.curves[c].averageDb, whole.curves[c].averageDb);
        EXPECT_EQ(chunked.curves[c].maxDb, whole.curves[c].maxDb);
    }
    // The whole-capture helper, on the pool, agrees too.
    const PcmView view{pcm.data(), static_cast<std::uint32_t>(pcm.size()), 2, 24};
    const SpanSpectrum helper = ComputeSpanSpectrum(view, kRate, 0, 200000, settings, &pool);
    EXPECT_EQ(helper.curves[1].averageDb, whole.curves[1].averageDb);
}

// A view shows the frames merged so far while the rest computes, and may
// give up half way.
TEST(SpanSpectrum, SnapshotsFillInAndCancelStopsEarly) {
    const auto pcm = Stereo(65536 * 8, 16, Sine(440, -3), Silence);
    SpanSpectrumSettings settings;
    settings.fftSize = 1024;
    WorkerPool pool(1, false);
    {
        SpanAccumulator acc(settings, kRate, {2, 16, false}, &pool);
        EXPECT_EQ(acc.Snapshot().frames, 0);
        EXPECT_TRUE(acc.Snapshot().curves.empty());
        ASSERT_TRUE(acc.Feed(pcm.data(), pcm.size() / 2));
        while (acc.FramesDone() == 0) std::this_thread::yield();
        const SpanSpectrum part = acc.Snapshot();
        EXPECT_GT(part.frames, 0);
        ASSERT_EQ(part.curves.size(), 1u);
        EXPECT_NEAR(Highest(part.curves[0].maxDb), -9, 1.5);
        ASSERT_TRUE(acc.Feed(pcm.data() + pcm.size() / 2, pcm.size() / 2));
        const SpanSpectrum whole = acc.Finish();
        EXPECT_EQ(whole.frames, SpanFrameCount(65536 * 8, 1024));
        EXPECT_EQ(acc.Snapshot().curves[0].averageDb, whole.curves[0].averageDb);
    }
    SpanAccumulator acc(settings, kRate, {2, 16, false}, &pool);
    ASSERT_TRUE(acc.Feed(pcm.data(), pcm.size() / 2));
    acc.Cancel();
    EXPECT_FALSE(acc.Feed(pcm.data() + pcm.size() / 2, pcm.size() / 2));
    const SpanSpectrum s = acc.Finish();
    EXPECT_TRUE(acc.Cancelled());
    EXPECT_LT(s.frames, SpanFrameCount(65536 * 8, 1024));
    EXPECT_EQ(acc.FramesDone(), s.frames);
}

TEST(SpectrumPeaks, NotesInScientificPitchWithCents) {
    struct Case {
        double hz, a4;
        const char* text;
    } cases[] = {
        {440.0, 440, "A4 +0"},   {466.16, 440, "A#4 +0"},
        {452.0, 440, "A4 +47"},  {68.82, 440, "C#2 -12"},
        {261.63, 440, "C4 +0"},  {27.5, 440, "A0 +0"},
        {8.1758, 440, "C-1 +0"}, {432.0, 432, "A4 +0"},
        {441.3, 440, "A4 +5"},   {440 * std::pow(2.0, 50.0 / 1200), 440, "A#4 -50"},
        {123.47, 440, "B2 +0"},
    };
    for (const Case& c : cases) EXPECT_EQ(PitchText(PitchOf(c.hz, c.a4)), c.text) << c.hz;
    EXPECT_EQ(CentsText(-12), "-12");
}

TEST(SpectrumPeaks, StrongestPeaksStandingOutComeFirst) {
    std::mt19937 rng(5);
    std::normal_distribution<double> gauss(0.0, 0.001);
    const auto tones = [&](int i) {
        return Sine(1000, -6)(i) + Sine(200, -20)(i) + Sine(5000, -30)(i) + gauss(rng);
    };
    SpanSpectrumSettings settings;
    settings.fftSize = 8192;
    const SpanSpectrum s =
        Analyse(Stereo(8192 * 100, 32, tones, tones, true), 32, settings, nullptr, true);
    const auto peaks =
        FindSpectrumPeaks(s.curves[0].averageDb, s.HzPerBin(), 5, kSpanFloorDb, WindowShape::kHann);
    ASSERT_EQ(peaks.size(), 3u);  // the noise floor has nothing that stands out
    EXPECT_NEAR(peaks[0].hz, 1000, 0.5);
    EXPECT_NEAR(peaks[1].hz, 200, 0.5);
    EXPECT_NEAR(peaks[2].hz, 5000, 0.5);
    EXPECT_NEAR(peaks[2].db, -30, 0.5);
    EXPECT_TRUE(FindSpectrumPeaks(std::vector<double>(100, kSpanFloorDb), 1, 3, kSpanFloorDb,
                                  WindowShape::kHann)
                    .empty());
}

}  // namespace
}  // namespace vurma
