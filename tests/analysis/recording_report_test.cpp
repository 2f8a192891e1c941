#include "analysis/recording_report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

namespace vurma {
namespace {

constexpr int kRate = 48000;

// Interleaved signal in [-1, 1] per channel, made into PCM of any width.
struct Signal {
    int channels = 2;
    int rate = kRate;
    std::vector<double> x;  // interleaved

    std::size_t frames() const { return x.size() / channels; }

    // Appends a sine of `seconds` at `dbfs` peak on every channel (the
    // phase runs on across segments).
    Signal& Sine(double seconds, double dbfs, double hz = 1000.0) {
        const double a = std::pow(10.0, dbfs / 20.0);
        const std::size_t start = frames(), n = static_cast<std::size_t>(seconds * rate);
        for (std::size_t i = 0; i < n; ++i) {
            const double v = a * std::sin(2.0 * std::numbers::pi * hz * (start + i) / rate);
            for (int c = 0; c < channels; ++c) x.push_back(v);
        }
        return *this;
    }
    Signal& Silence(double seconds) {
        x.insert(x.end(), static_cast<std::size_t>(seconds * rate) * channels, 0.0);
        return *this;
    }

    std::vector<std::uint8_t> Pcm(int bits) const {
        std::vector<std::uint8_t> out;
        const double full = std::ldexp(1.0, bits - 1);
        for (double v : x) {
            const double s = std::clamp(std::round(v * full), -full, full - 1);
            if (bits == 8) {
                out.push_back(static_cast<std::uint8_t>(static_cast<int>(s) + 128));
                continue;
            }
            const auto u = static_cast<std::uint32_t>(static_cast<std::int32_t>(s));
            for (int b = 0; b < bits / 8; ++b)
                out.push_back(static_cast<std::uint8_t>(u >> (8 * b)));
        }
        return out;
    }
};

RecordingReport Measure(const Signal& s, int bits = 16, std::size_t chunk = 65536) {
    ReportAccumulator acc({s.channels, bits, s.rate});
    EXPECT_TRUE(acc.ok());
    const std::vector<std::uint8_t> pcm = s.Pcm(bits);
    for (std::size_t at = 0; at < pcm.size(); at += chunk)
        acc.Feed(pcm.data() + at, std::min(chunk, pcm.size() - at));
    EXPECT_EQ(acc.frames(), s.frames());
    return acc.Finish();
}

// EBU Tech 3341 test 1, with every other figure of a steady sine.
TEST(RecordingReport, SineAtMinus23DbfsReadsMinus23Lufs) {
    const RecordingReport r = Measure(Signal().Sine(20, -23.0));
    ASSERT_TRUE(r.integratedLufs);
    EXPECT_NEAR(*r.integratedLufs, -23.0, 0.1);
    EXPECT_NEAR(*r.maxMomentaryLufs, -23.0, 0.1);
    EXPECT_NEAR(*r.maxShortTermLufs, -23.0, 0.1);
    EXPECT_NEAR(*r.loudnessRangeLu, 0.0, 0.5);
    ASSERT_EQ(r.samplePeakDbfs.size(), 2u);
    for (int c = 0; c < 2; ++c) {
        EXPECT_NEAR(r.samplePeakDbfs[c], -23.0, 0.05);
        EXPECT_NEAR(r.truePeakDbtp[c], -23.0, 0.1);
        EXPECT_NEAR(r.rmsDbfs[c], -23.0, 0.05);  // a sine's RMS reads its peak level
        EXPECT_NEAR(r.dcOffset[c], 0.0, 1e-5);
        EXPECT_EQ(r.clippedSamples[c], 0u);
    }
    EXPECT_NEAR(r.durationS, 20.0, 1e-9);
    EXPECT_NEAR(*r.correlation, 1.0, 1e-9);
    EXPECT_TRUE(r.firstClipsS.empty());
    EXPECT_TRUE(r.notes.empty());
}

// EBU Tech 3341 (integrated loudness) and Tech 3342 (loudness range):
// stereo 1 kHz sines at the listed levels and lengths.
TEST(RecordingReport, EbuTestSignalsGiveTheirPublishedResults) {
    struct Case {
        const char* name;
        std::vector<std::pair<double, double>> segments;  // seconds, dBFS
        double integrated;
        double range;  // < 0: not checked
    };
    const Case cases[] = {
        {"3341 test 2", {{20, -33}}, -33.0, -1},
        {"3341 test 3", {{10, -36}, {60, -23}, {10, -36}}, -23.0, -1},
        {"3341 test 4", {{10, -72}, {10, -36}, {60, -23}, {10, -36}, {10, -72}}, -23.0, -1},
        {"3341 test 5", {{20, -26}, {20.1, -20}, {20, -26}}, -23.0, -1},
        {"3342 test 1", {{20, -20}, {20, -30}}, NAN, 10},
        {"3342 test 2", {{20, -20}, {20, -15}}, NAN, 5},
        {"3342 test 3", {{20, -40}, {20, -20}}, NAN, 20},
        {"3342 test 4", {{20, -50}, {20, -35}, {20, -20}, {20, -35}, {20, -50}}, NAN, 15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Signal s;
        for (auto [seconds, dbfs] : c.segments) s.Sine(seconds, dbfs);
        const RecordingReport r = Measure(s, 24);
        ASSERT_TRUE(r.integratedLufs);
        if (!std::isnan(c.integrated)) {
            EXPECT_NEAR(*r.integratedLufs, c.integrated, 0.1);
        }
        if (c.range >= 0) {
            ASSERT_TRUE(r.loudnessRangeLu);
            EXPECT_NEAR(*r.loudnessRangeLu, c.range, 1.0);
        }
    }
}

TEST(RecordingReport, ShortTermOfAlternatingBurstsStaysAtMinus23) {
    // EBU Tech 3341 test 9: 1.34 s at -20 dBFS, 1.66 s at -30 dBFS, five
    // times; every 3 s window reads -23.0 LUFS.
    Signal s;
    for (int i = 0; i < 5; ++i) s.Sine(1.34, -20).Sine(1.66, -30);
    const RecordingReport r = Measure(s);
    ASSERT_TRUE(r.maxShortTermLufs);
    EXPECT_NEAR(*r.maxShortTermLufs, -23.0, 0.1);
    EXPECT_NEAR(*r.maxMomentaryLufs, -20.0 + 0.0, 0.2);  // a 400 ms window inside a burst
}

TEST(RecordingReport, TruePeakFindsTheCrestBetweenSamples) {
    // A sine at a quarter of the rate with a 45 degree phase: every sample
    // sits at 0.707 of the crest (-3 dB), the crest itself at -6.02 dBFS.
    Signal s;
    s.channels = 1;
    for (int i = 0; i < kRate * 2; ++i)
        s.x.push_back(0.5 * std::sin(std::numbers::pi / 2 * i + std::numbers::pi / 4));
    const RecordingReport r = Measure(s, 24);
    EXPECT_NEAR(r.samplePeakDbfs[0], -9.03, 0.02);
    EXPECT_GE(r.truePeakDbtp[0], -6.02 - 0.4);  // EBU tolerance +0.2 / -0.4 dB
    EXPECT_LE(r.truePeakDbtp[0], -6.02 + 0.2);
    EXPECT_FALSE(r.correlation);  // mono
}

TEST(RecordingReport, ClippedRunsAreCountedAndTimed) {
    Signal clipped;
    clipped.Silence(0.5);
    const std::size_t start = clipped.frames();
    for (int i = 0; i < kRate; ++i) {
        const double v =
            std::clamp(2.0 * std::sin(2.0 * std::numbers::pi * 100 * i / kRate), -1.0, 1.0);
        clipped.x.push_back(v);
        clipped.x.push_back(0.5 * v);  // the right channel never reaches full scale
    }
    const RecordingReport r = Measure(clipped);
    EXPECT_GT(r.clippedSamples[0], 100u);
    EXPECT_EQ(r.clippedSamples[1], 0u);
    ASSERT_EQ(r.firstClipsS.size(), static_cast<std::size_t>(kMaxFirstClips));
    // The first run starts where 2 sin reaches 1 (30 degrees of 100 Hz).
    EXPECT_NEAR(r.firstClipsS[0], start / double(kRate) + 1.0 / 1200, 2.0 / kRate);
    EXPECT_NEAR(r.firstClipsS[1] - r.firstClipsS[0], 0.005, 2.0 / kRate);  // the negative crest
    EXPECT_EQ(Measure(Signal().Sine(1, -0.01)).clippedSamples, (std::vector<std::uint64_t>{0, 0}));

    // Two samples at full scale are not a clip; three are, in either sign.
    for (int run : {2, 3, 4}) {
        for (double sign : {1.0, -1.0}) {
            Signal s;
            s.channels = 1;
            s.Silence(0.01);
            s.x.insert(s.x.end(), run, sign);
            s.Silence(0.01);
            SCOPED_TRACE(run * sign);
            EXPECT_EQ(Measure(s).clippedSamples[0],
                      run >= 3 ? static_cast<std::uint64_t>(run) : 0u);
        }
    }
}

TEST(RecordingReport, DcOffsetAndCorrelation) {
    Signal s;
    s.Sine(2, -20);
    Signal offset = s, inverted = s;
    for (double& v : offset.x) v += 0.01;
    for (std::size_t i = 1; i < inverted.x.size(); i += 2) inverted.x[i] = -inverted.x[i];
    const RecordingReport r = Measure(offset);
    EXPECT_NEAR(r.dcOffset[0], 0.01, 1e-4);
    EXPECT_NEAR(r.dcOffset[1], 0.01, 1e-4);
    EXPECT_NEAR(*Measure(s).correlation, 1.0, 1e-9);
    EXPECT_NEAR(*Measure(inverted).correlation, -1.0, 1e-9);

    Signal oneSided = s;  // a dead right channel: no correlation to give
    for (std::size_t i = 1; i < oneSided.x.size(); i += 2) oneSided.x[i] = 0.0;
    const RecordingReport dead = Measure(oneSided);
    EXPECT_FALSE(dead.correlation);
    EXPECT_TRUE(std::isinf(dead.samplePeakDbfs[1]));
    EXPECT_FALSE(dead.notes.empty());
}

TEST(RecordingReport, EffectiveBitsAreTheWidthTheSamplesNeed) {
    Signal s;
    s.Sine(1, -3);
    for (double& v : s.x) v = std::round(v * 32768.0) / 32768.0;  // 16-bit content
    EXPECT_EQ(Measure(s, 24).effectiveBits, 16);
    EXPECT_EQ(Measure(s, 32).effectiveBits, 16);
    EXPECT_EQ(Measure(s, 16).effectiveBits, 16);
    EXPECT_EQ(Measure(s, 8).effectiveBits, 8);
    Signal fine;
    fine.Sine(1, -3.3);
    EXPECT_EQ(Measure(fine, 24).effectiveBits, 24);

    RecordingReport lossy = Measure(fine, 16);
    ApplyStoredFormat(&lossy, {"MPEG-1 Layer 3", false, "", 0});
    EXPECT_FALSE(lossy.effectiveBits);
    RecordingReport floating = Measure(fine, 16);
    ApplyStoredFormat(&floating, {"PCM", true, "f32", 32});
    EXPECT_FALSE(floating.effectiveBits);
}

TEST(RecordingReport, SilenceAtTheEndsIsFound) {
    const RecordingReport r = Measure(Signal().Silence(1).Sine(3, -20).Silence(1));
    EXPECT_NEAR(*r.silenceStartS, 1.0, 0.001);
    EXPECT_NEAR(*r.silenceEndS, 1.0, 0.001);
    // Noise at -70 dBFS is silence too.
    Signal quiet;
    quiet.Sine(1, -70).Sine(1, -10).Sine(0.5, -70);
    const RecordingReport q = Measure(quiet);
    EXPECT_NEAR(*q.silenceStartS, 1.0, 0.001);
    EXPECT_NEAR(*q.silenceEndS, 0.5, 0.001);
}

TEST(RecordingReport, ShortAndSilentFilesSayWhatCannotBeMeasured) {
    const RecordingReport shortFile = Measure(Signal().Sine(0.01, -6));
    EXPECT_FALSE(shortFile.integratedLufs);
    EXPECT_FALSE(shortFile.maxMomentaryLufs);
    EXPECT_FALSE(shortFile.loudnessRangeLu);
    EXPECT_FALSE(shortFile.notes.empty());
    EXPECT_NEAR(shortFile.samplePeakDbfs[0], -6.0, 0.05);
    EXPECT_TRUE(shortFile.bandwidthHz);  // one zero-padded frame

    const RecordingReport twoSeconds = Measure(Signal().Sine(2, -23));
    EXPECT_NEAR(*twoSeconds.integratedLufs, -23.0, 0.1);
    EXPECT_FALSE(twoSeconds.maxShortTermLufs);  // needs 3 s

    const RecordingReport silent = Measure(Signal().Silence(5));
    EXPECT_FALSE(silent.integratedLufs);
    EXPECT_FALSE(silent.effectiveBits);
    EXPECT_FALSE(silent.bandwidthHz);
    EXPECT_NEAR(*silent.silenceStartS, 5.0, 1e-9);
    EXPECT_TRUE(std::isinf(silent.truePeakDbtp[0]));
    EXPECT_NE(ReportJson(silent).find("\"sample_peak_dbfs\": [null, null]"), std::string::npos);

    RecordingReport empty = ReportAccumulator({2, 16, kRate}).Finish();
    EXPECT_EQ(empty.durationS, 0.0);
    EXPECT_FALSE(ReportAccumulator({2, 12, kRate}).ok());
    EXPECT_FALSE(ReportAccumulator({0, 16, kRate}).ok());
    EXPECT_FALSE(ReportAccumulator({1, 16, 5}).ok());
}

TEST(RecordingReport, ChunkingDoesNotChangeTheResult) {
    Signal s;
    s.Silence(0.2);
    for (int i = 0; i < kRate; ++i) {
        const double v =
            std::clamp(1.5 * std::sin(2.0 * std::numbers::pi * 440 * i / kRate), -1.0, 1.0);
        s.x.push_back(v + 0.001);
        s.x.push_back(-0.7 * v);
    }
    for (int bits : {8, 16, 24, 32}) {
        const std::string whole = ReportJson(Measure(s, bits, 1 << 30));
        for (std::size_t chunk : {1, 5, 4099, 100000}) {
            SCOPED_TRACE(testing::Message() << bits << " bits, chunk " << chunk);
            EXPECT_EQ(ReportJson(Measure(s, bits, chunk)), whole);
        }
    }
}

TEST(RecordingReport, WholePcmMatchesTheStreamAndStopsWhenCancelled) {
    Signal s;
    s.Sine(3, -12);
    const std::vector<std::uint8_t> pcm = s.Pcm(16);
    const PcmLayout layout{2, 16, kRate};
    EXPECT_EQ(ReportJson(MeasurePcm(pcm.data(), pcm.size(), layout)),
              ReportJson(Measure(s, 16, 4099)));
    std::atomic<bool> cancel{true};
    EXPECT_EQ(MeasurePcm(pcm.data(), pcm.size(), layout, &cancel).durationS, 0.0);
}

TEST(JudgeBandwidth, ShelvesAndSlopes) {
    const double nyquist = 22050.0;
    const int bands = 128;
    const double width = nyquist / bands;
    auto make = [&](auto level) {
        std::vector<double> db(bands);
        for (int b = 0; b < bands; ++b) db[b] = level((b + 0.5) * width);
        return db;
    };
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        std::vector<double> db;
        std::optional<double> low, high;  // expected bandwidth range
        std::optional<bool> lossy;
    };
    const Case cases[] = {
        {"flat", make([](double) { return -40.0; }), 22049, 22051, false},
        {"pink slope", make([](double f) { return -10.0 * std::log10(f); }), 22049, 22051, false},
        {"brown slope", make([](double f) { return -20.0 * std::log10(f); }), 22049, 22051, false},
        {"16 kHz shelf over rounding noise",
         make([](double f) { return f < 16000 ? -50.0 : -125.0; }), 15900, 16200, true},
        {"16 kHz shelf over digital zero", make([&](double f) { return f < 16000 ? -50.0 : -inf; }),
         15900, 16200, true},
        {"converter edge at 21 kHz", make([](double f) { return f < 21000 ? -50.0 : -110.0; }),
         20900, 21200, false},
        {"a lone tone", make([](double f) { return f > 980 && f < 1180 ? -3.0 : -120.0; }), 1000,
         1400, false},
        {"gentle roll-off from 8 kHz",
         make([](double f) { return f < 8000 ? -40.0 : -40.0 - 24.0 * std::log2(f / 8000); }),
         22049, 22051, false},
        {"silence", make([&](double) { return -inf; }), std::nullopt, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const BandwidthVerdict v = JudgeBandwidth(c.db, nyquist);
        ASSERT_EQ(v.bandwidthHz.has_value(), c.low.has_value());
        if (c.low) {
            EXPECT_GE(*v.bandwidthHz, *c.low);
            EXPECT_LE(*v.bandwidthHz, *c.high);
        }
        EXPECT_EQ(v.lossySuspect, c.lossy);
    }
}

TEST(ReportFormat, JsonKeysInOrderWithNulls) {
    RecordingReport r;
    r.file = "a \"b\"\\c\n\xff.wav";
    r.durationS = 1.5;
    r.sampleRate = 44100;
    r.channels = 1;
    r.stored = {"PCM", true, "s16", 16};
    r.effectiveBits = 12;
    r.integratedLufs = -23.004;
    r.truePeakDbtp = {-0.5};
    r.samplePeakDbfs = {-std::numeric_limits<double>::infinity()};
    r.rmsDbfs = {-20.0};
    r.clippedSamples = {0};
    r.dcOffset = {-0.0000001};
    r.bandwidthHz = 16023.4;
    r.lossySuspect = true;
    EXPECT_EQ(ReportJson(r),
              "{\"file\": \"a \\\"b\\\"\\\\c\\u000a\\ufffd.wav\", \"duration_s\": 1.500, "
              "\"sample_rate\": 44100, \"channels\": 1, \"codec\": \"PCM\", \"lossless\": true, "
              "\"sample_format\": \"s16\", \"bits\": 16, \"effective_bits\": 12, "
              "\"integrated_lufs\": -23.00, \"loudness_range_lu\": null, "
              "\"max_momentary_lufs\": null, \"max_short_term_lufs\": null, "
              "\"true_peak_dbtp\": [-0.50], \"sample_peak_dbfs\": [null], \"rms_dbfs\": [-20.00], "
              "\"clipped_samples\": [0], \"first_clips_s\": [], \"dc_offset\": [0.000000], "
              "\"correlation\": null, \"silence_start_s\": null, \"silence_end_s\": null, "
              "\"bandwidth_hz\": 16023, \"lossy_suspect\": true, \"notes\": []}");
    EXPECT_EQ(ReportErrorJson("x.mp3", "bad"), "{\"file\": \"x.mp3\", \"error\": \"bad\"}");

    const std::string table = ReportTable(r, SourceText);
    EXPECT_NE(table.find("-23.00 LUFS"), std::string::npos);
    EXPECT_NE(table.find("-inf dBFS"), std::string::npos);
    EXPECT_EQ(ReportRows(r, SourceText).size(), 24u);
}

}  // namespace
}  // namespace vurma
