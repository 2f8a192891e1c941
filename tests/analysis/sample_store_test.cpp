// PCM conversion, the loudest-sample search and the end-of-capture decisions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "analysis/cpu_dispatch.h"
#include "analysis/sample_span.h"
#include "analysis/sample_store.h"
#include "test_media.h"

namespace vurma {
namespace {

constexpr double kUnset = 42.0;

PcmView View(const std::vector<std::uint8_t>& bytes, int channels, int bits) {
    PcmView v;
    v.data = bytes.data();
    v.dataLen = static_cast<std::uint32_t>(bytes.size());
    v.channels = channels;
    v.bitsPerSample = bits;
    return v;
}

struct Out {
    explicit Out(std::size_t n) : samples(n, kUnset), windowed(n, kUnset) {}
    std::vector<double> samples;
    std::vector<double> windowed;
};

TEST(ConvertSamplesTest, KnownValuesAndTheMeanOfTheChannels) {
    using test::Pcm;
    constexpr double k16 = 32767, k24 = 8388607, k32 = 2147483647;  // exact divisors
    const struct {
        int bits, channels;
        std::vector<std::uint8_t> bytes;
        std::vector<double> expected;
    } cases[] = {
        {8, 1, {0, 127, 128, 255}, {-1.0, 0.0, 1.0 / 127, 128.0 / 127}},  // divisor 127
        {8, 2, {0, 255, 127, 127}, {(-1.0 + 128.0 / 127) / 2, 0.0}},
        {16, 1, Pcm(16, {32767, -32768, -1}), {1.0, -32768 / k16, -1 / k16}},
        {16, 2, Pcm(16, {16384, -16384, 32767, 32767, -32768, 0}), {0.0, 1.0, -32768 / k16 / 2}},
        {16, 6, Pcm(16, {32767, -32767, 100, -100, 0, 6}), {1 / k16}},
        {24, 1, Pcm(24, {8388607, -8388608, -1}), {1.0, -8388608 / k24, -1 / k24}},
        {24, 3, Pcm(24, {8388607, 0, -8388607, 300, 0, 0}), {0.0, 100 / k24}},
        {32, 2, Pcm(32, {2147483647, -2147483647 - 1, 1, 1}), {-0.5 / k32, 1 / k32}},
    };
    for (const auto& c : cases) {
        const auto n = static_cast<std::uint32_t>(c.expected.size());
        Out out(n);
        ASSERT_TRUE(ConvertSamples(View(c.bytes, c.channels, c.bits), 0, n, out.samples.data(),
                                   out.windowed.data(), 0));
        for (std::size_t i = 0; i < n; ++i)
            EXPECT_NEAR(out.samples[i], c.expected[i], 1e-15)
                << c.bits << "/" << c.channels << " " << i;
        EXPECT_EQ(out.windowed, out.samples);
    }
}

// Every 16-bit and 8-bit value, in each channel position and at odd and even
// frame offsets, converts exactly as the plain division would.
TEST(ConvertSamplesTest, EverySampleValueMatchesThePlainDivision) {
    for (bool avx2 : {true, false})
        for (int channels : {1, 2}) {
            const bool previous = AllowAvx2(avx2);
            std::vector<std::int32_t> values;
            for (int v = -32768; v <= 32767; ++v) {
                values.push_back(v);
                if (channels == 2) values.push_back(static_cast<std::int16_t>(v * 7919 + 13));
            }
            const std::vector<std::uint8_t> bytes = test::Pcm(16, values);
            const std::uint32_t frames = 65536;
            for (std::uint32_t first : {0u, 1u}) {
                Out out(frames);
                ASSERT_TRUE(ConvertSamples(View(bytes, channels, 16), first, frames - first,
                                           out.samples.data(), out.windowed.data(), 0));
                for (std::uint32_t i = 0; i + first < frames; ++i) {
                    double sum = 0.0;
                    for (int c = 0; c < channels; ++c)
                        sum += values[(i + first) * channels + c] / 32767.0;
                    ASSERT_EQ(out.samples[i], sum / channels)
                        << channels << " " << avx2 << " " << i;
                    ASSERT_EQ(out.windowed[i], out.samples[i]);
                }
            }
            AllowAvx2(previous);
        }
    std::vector<std::uint8_t> bytes;
    for (int v = 0; v < 256; ++v) {
        bytes.push_back(static_cast<std::uint8_t>(v));
        bytes.push_back(static_cast<std::uint8_t>(255 - v));
    }
    for (int channels : {1, 2}) {
        const std::uint32_t frames = 512 / channels;
        Out out(frames);
        ASSERT_TRUE(ConvertSamples(View(bytes, channels, 8), 0, frames, out.samples.data(),
                                   out.windowed.data(), 0));
        for (std::uint32_t i = 0; i < frames; ++i) {
            double sum = 0.0;
            for (int c = 0; c < channels; ++c) sum += bytes[i * channels + c] / 127.0 - 1;
            ASSERT_EQ(out.samples[i], sum / channels) << channels << " " << i;
        }
    }
}

TEST(ConvertSamplesTest, PlacesFramesAtTheRequestedIndex) {
    const std::vector<std::uint8_t> mono = test::Pcm(16, {0, 32767, -32767, 0});
    Out out(5);
    ASSERT_TRUE(
        ConvertSamples(View(mono, 1, 16), 1, 2, out.samples.data(), out.windowed.data(), 2));
    EXPECT_EQ(out.samples, (std::vector<double>{kUnset, kUnset, 1.0, -1.0, kUnset}));
    EXPECT_EQ(out.windowed, out.samples);
}

TEST(ConvertSamplesTest, PartialFramesAndOutOfRangeRequestsWriteNothing) {
    std::vector<std::uint8_t> bytes = test::Pcm(16, {100, 200, 300, 400});
    bytes.resize(7);  // the second stereo frame is incomplete
    const PcmView view = View(bytes, 2, 16);
    EXPECT_EQ(CompleteFrames(view), 1u);

    Out out(4);
    const Out untouched(4);
    EXPECT_FALSE(ConvertSamples(view, 0, 2, out.samples.data(), out.windowed.data(), 0));
    EXPECT_FALSE(ConvertSamples(view, 1, 1, out.samples.data(), out.windowed.data(), 0));
    // first + count wraps around in 32 bits; the check must not.
    EXPECT_FALSE(ConvertSamples(view, std::numeric_limits<std::uint32_t>::max(), 2,
                                out.samples.data(), out.windowed.data(), 0));
    EXPECT_FALSE(ConvertSamples(view, 1, std::numeric_limits<std::uint32_t>::max(),
                                out.samples.data(), out.windowed.data(), 0));

    // Unusable formats have no frames at all.
    EXPECT_EQ(CompleteFrames(View(bytes, 0, 16)), 0u);
    EXPECT_EQ(CompleteFrames(View(bytes, 2, 20)), 0u);
    EXPECT_EQ(CompleteFrames(PcmView{}), 0u);
    EXPECT_FALSE(
        ConvertSamples(View(bytes, 2, 20), 0, 1, out.samples.data(), out.windowed.data(), 0));
    EXPECT_EQ(out.samples, untouched.samples);
    EXPECT_EQ(out.windowed, untouched.windowed);

    EXPECT_TRUE(ConvertSamples(view, 0, 1, out.samples.data(), out.windowed.data(), 0));
    EXPECT_DOUBLE_EQ(out.samples[0], (100.0 / 32767 + 200.0 / 32767) / 2);
}

TEST(FindLoudestSampleTest, EarliestLargestMagnitude) {
    const std::vector<double> s = {0.1, -0.5, 0.3, 0.5, -0.5};
    EXPECT_EQ(FindLoudestSample(s.data(), 5), 1);
    EXPECT_EQ(FindLoudestSample(s.data(), 1), 0);
    const std::vector<double> silence(100, 0.0);
    EXPECT_EQ(FindLoudestSample(silence.data(), 100), 0);
    EXPECT_EQ(FindLoudestSample(s.data(), 0), 0);
}

// The store converts spans on demand: what it hands out at the start, the
// middle and the end equals the conversion of the whole capture, and the
// block search finds what the search over the whole conversion finds.
TEST(SampleSpanTest, SpansEqualTheWholeConversionAndTheBlockSearchTheWholeSearch) {
    const std::uint32_t frames = 3 * SampleSpan::kBlockFrames + 123;
    for (const int bits : {8, 16}) {
        for (const int channels : {1, 2, 6}) {
            SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(channels) + " channels");
            const std::vector<std::uint8_t> pcm =
                test::Pcm(bits, test::Sine(channels, 44100, static_cast<int>(frames), 997,
                                           bits == 8 ? 120 : 30000));
            const PcmView view = View(pcm, channels, bits);
            Out whole(frames);
            ASSERT_TRUE(
                ConvertSamples(view, 0, frames, whole.samples.data(), whole.windowed.data(), 0));
            SampleSpan span;
            const std::uint32_t firsts[] = {0, frames / 2, frames - 4096, 0};
            for (const std::uint32_t first : firsts) {
                const double* got = span.Get(view, first, 4096);
                ASSERT_NE(got, nullptr);
                EXPECT_TRUE(std::equal(got, got + 4096, whole.samples.begin() + first)) << first;
            }
            EXPECT_EQ(span.Get(view, frames - 100, 101), nullptr);  // past the end
            std::vector<double> scratch(1000);
            const auto loudest = static_cast<std::uint32_t>(
                FindLoudestSample(whole.samples.data(), static_cast<int>(frames)));
            for (const bool avx2 : {true, false}) {
                const bool previous = AllowAvx2(avx2);
                EXPECT_EQ(FindLoudestFrame(view, frames, scratch.data(), 1000), loudest) << avx2;
                AllowAvx2(previous);
            }
        }
    }
}

TEST(SearchFrameStartTest, TheFrameFitsAndHoldsTheLoudestFrame) {
    const struct {
        std::uint32_t loudest, frames, n, start;
    } cases[] = {{0, 4096, 2048, 0},       {2048, 4096, 2048, 2048}, {2049, 4096, 2048, 2048},
                 {4095, 4096, 2048, 2048}, {100, 2048, 2048, 0},     {100, 1000, 2048, 100}};
    for (const auto& c : cases)
        EXPECT_EQ(SearchFrameStart(c.loudest, c.frames, c.n), c.start)
            << c.loudest << " " << c.frames;
}

TEST(FrameAtPositionTest, TruncatesRateTimesPosition) {
    EXPECT_EQ(FrameAtPosition(44100, 10'000'000), 44100u);
    EXPECT_EQ(FrameAtPosition(44100, 226), 0u);           // 0.99666 frames
    EXPECT_EQ(FrameAtPosition(48000, 2'083'333), 9999u);  // 9999.998
    EXPECT_EQ(FrameAtPosition(44100, -5), 0u);
    EXPECT_EQ(FrameAtPosition(44100, std::numeric_limits<std::int64_t>::max()),
              std::numeric_limits<std::uint32_t>::max());
}

TEST(DecideFinishCaptureTest, TooFewOrOneStepDown) {
    const struct {
        int samples, selected;
        bool tooFew;
        int fftIndex;
    } cases[] = {
        {511, 2, true, 0},     {512, 0, false, 0},  {2047, 2, false, 1}, {2048, 2, false, 2},
        {100000, 3, false, 3}, {1000, 3, false, 2},  // 4096 selected: 2048 only, though still too
                                                     // large
    };
    for (const auto& c : cases) {
        const FinishDecision d = DecideFinishCapture(c.samples, c.selected);
        EXPECT_EQ(d.tooFew, c.tooFew) << c.samples;
        EXPECT_EQ(d.fftIndex, c.fftIndex) << c.samples;
    }
}

}  // namespace
}  // namespace vurma
