// Known pictures in dBFS: a full-scale sine with every window, a quiet tone
// with a clean floor, channels in strips, a sweep on the log axis without
// steps, a click between two column centres, the streamed picture equal to
// the one computed from memory, and a run on a worker pool.
#include "analysis/spectrogram.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <thread>
#include <vector>

#include "analysis/cpu_dispatch.h"
#include "analysis/worker_pool.h"
#include "test_media.h"

namespace vurma {
namespace {

// Interleaved samples of `channels` channels; fill(i, c) in -1..1 scaled to
// `bits`.
template <typename F>
std::vector<std::uint8_t> Pcm(int bits, int channels, int frames, F fill) {
    std::vector<std::int32_t> samples;
    const double full = std::ldexp(1.0, bits - 1) - 1;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            samples.push_back(static_cast<std::int32_t>(std::lround(fill(i, c) * full)));
    return test::Pcm(bits, samples);
}

struct Picture {
    SpectrogramPlan plan;
    SpectrogramLevels levels;
    const float* Column(int c) const { return levels.Column(c); }
};

SpectrogramSource Source(const std::vector<std::uint8_t>& pcm, int channels, int bits, int rate) {
    SpectrogramSource source;
    source.pcm = {pcm.data(), static_cast<std::uint32_t>(pcm.size()), channels, bits};
    source.sampleRate = rate;
    source.totalFrames = CompleteFrames(source.pcm);
    source.complete = true;
    return source;
}

// The picture of a whole capture in memory, on two threads.
Picture Compute(const std::vector<std::uint8_t>& pcm, int channels, int bits, int rate,
                const SpectrogramSettings& settings, int columns, int rows) {
    const SpectrogramSource source = Source(pcm, channels, bits, rate);
    Picture p{SpectrogramPlan(settings, rate, channels, source.totalFrames, 0, source.totalFrames,
                              columns, rows),
              SpectrogramLevels(columns, rows * StripCount(settings, channels))};
    EXPECT_EQ(p.levels.Compute(p.plan, source, 2, nullptr), 0);
    return p;
}

double Loudest(const Picture& p) {
    double most = -INFINITY;
    for (int c = 0; c < p.plan.columns(); ++c)
        for (int r = 0; r < p.plan.levelsPerColumn(); ++r)
            most = std::max<double>(most, p.Column(c)[r]);
    return most;
}

TEST(SpectrogramTest, FullScaleSineReadsZeroDbfsWithEveryWindow) {
    const int rate = 44100;
    const double hz = 93.0 * rate / 2048;  // on a bin of the default FFT
    const auto pcm = Pcm(16, 1, 2 * rate, [&](int i, int) {
        return std::sin(2 * std::numbers::pi * hz * i / rate);
    });
    for (const WindowShape window : kSpectrogramWindows) {
        SpectrogramSettings settings;
        settings.window = window;
        const Picture p = Compute(pcm, 1, 16, rate, settings, 40, 200);
        EXPECT_EQ(p.plan.fftSize(), 2048);
        EXPECT_NEAR(Loudest(p), 0.0, 0.5) << WindowShapeName(window);
    }
}

// A -20 dBFS 1 kHz tone in 24-bit samples, with Hann: no leakage wash.
TEST(SpectrogramTest, AQuietToneLeavesTheFloorCleanWithHann) {
    const int rate = 44100;
    const auto pcm = Pcm(24, 1, 3 * rate, [&](int i, int) {
        return 0.1 * std::sin(2 * std::numbers::pi * 1000 * i / rate);
    });
    const Picture p = Compute(pcm, 1, 24, rate, SpectrogramSettings{}, 60, 400);
    double far = -INFINITY, near = -INFINITY;
    for (int c = 0; c < 60; ++c) {
        for (int r = 0; r < 400; ++r) {
            const double hz = p.plan.axis().HzAt(r + 0.5);
            double& level = std::abs(hz - 1000) > 1000 ? far : near;
            level = std::max<double>(level, p.Column(c)[r]);
        }
    }
    EXPECT_LT(far, -100.0);
    EXPECT_NEAR(near, -20.0, 1.5);  // at most Hann's scalloping below
}

TEST(SpectrogramTest, ChannelsHaveStripsOfTheirOwn) {
    const int rate = 16000;
    // A tone on the left only.
    const auto pcm = Pcm(16, 2, 2 * rate, [&](int i, int c) {
        return c == 0 ? 0.5 * std::sin(2 * std::numbers::pi * 2000 * i / rate) : 0.0;
    });
    SpectrogramSettings settings;
    settings.channels = ChannelView::kAll;
    const Picture p = Compute(pcm, 2, 16, rate, settings, 20, 100);
    ASSERT_EQ(p.plan.strips(), 2);
    double left = -INFINITY, right = -INFINITY;
    for (int c = 0; c < 20; ++c) {
        for (int r = 0; r < 100; ++r) {
            left = std::max<double>(left, p.Column(c)[r]);
            right = std::max<double>(right, p.Column(c)[100 + r]);
        }
    }
    EXPECT_NEAR(left, -6.0, 1.5);
    EXPECT_EQ(right, kSilenceDb);
    // One channel alone, and the mix (the mean: 6 dB below the left).
    settings.channels = ChannelView::kOne;
    settings.channel = 1;
    EXPECT_EQ(Loudest(Compute(pcm, 2, 16, rate, settings, 20, 100)), kSilenceDb);
    settings.channels = ChannelView::kMix;
    EXPECT_NEAR(Loudest(Compute(pcm, 2, 16, rate, settings, 20, 100)), -12.0, 1.5);

    const struct {
        ChannelView view;
        int channels, strip;
        const char* name;
    } names[] = {{ChannelView::kAll, 2, 0, "L"}, {ChannelView::kAll, 2, 1, "R"},
                 {ChannelView::kAll, 6, 4, "5"}, {ChannelView::kAll, 1, 0, ""},
                 {ChannelView::kMix, 2, 0, ""},  {ChannelView::kOne, 2, 0, "R"}};
    for (const auto& n : names) {
        SpectrogramSettings s;
        s.channels = n.view;
        s.channel = 1;
        EXPECT_EQ(StripName(s, n.channels, n.strip), n.name);
    }
}

// A slow sweep through the bottom octaves on the log axis: rows narrower
// than a bin are interpolated, so no run of equal rows is wider than two.
TEST(SpectrogramTest, ASweepOnTheLogAxisIsALineNotSteps) {
    const int rate = 44100, seconds = 8;
    double phase = 0;
    const auto pcm = Pcm(16, 1, seconds * rate, [&](int i, int) {
        const double hz = 20 * std::pow(10.0, static_cast<double>(i) / (seconds * rate));
        phase += 2 * std::numbers::pi * hz / rate;
        return 0.5 * std::sin(phase);
    });
    SpectrogramSettings settings;
    settings.logFrequency = true;
    const Picture p = Compute(pcm, 1, 16, rate, settings, 80, 500);
    int widest = 0;
    for (int c = 0; c < 80; ++c) {
        int run = 1;
        for (int r = 1; r < 500; ++r) {
            if (p.plan.axis().HzAt(r + 0.5) >= 200) continue;
            run = p.Column(c)[r] == p.Column(c)[r - 1] ? run + 1 : 1;
            widest = std::max(widest, run);
        }
    }
    EXPECT_LE(widest, 2);
}

TEST(SpectrogramTest, AClickBetweenTwoColumnCentresShows) {
    // 10 s of silence with a 1 ms full-scale click on the border of columns
    // 4 and 5 of ten: far from both column centres, and far narrower than a
    // column, but inside frames half an FFT apart.
    const int rate = 16000;
    const auto pcm = Pcm(16, 1, 10 * rate, [&](int i, int) {
        return i >= 5 * rate - 8 && i < 5 * rate + 8 ? 1.0 : 0.0;
    });
    SpectrogramSettings settings;
    settings.fftSize = 512;
    const Picture p = Compute(pcm, 1, 16, rate, settings, 10, 50);
    for (int c = 0; c < 10; ++c) {
        const float loudest = *std::max_element(p.Column(c), p.Column(c) + 50);
        if (c == 4 || c == 5) {
            EXPECT_GT(loudest, -40) << c;
        } else {
            EXPECT_EQ(loudest, kSilenceDb) << c;  // digital silence
        }
    }
}

TEST(SpectrogramTest, TheFftSizeFollowsTheRecording) {
    const struct {
        int rate;
        int size;
    } rates[] = {{8000, 512},   {16000, 512},  {22050, 1024},  {44100, 2048},
                 {48000, 2048}, {96000, 4096}, {192000, 8192}, {384000, 16384}};
    for (const auto& r : rates) EXPECT_EQ(DefaultSpectrogramFft(r.rate), r.size) << r.rate;
    // A short recording gets a smaller frame, down to 256; shorter is too short.
    EXPECT_EQ(EffectiveSpectrogramFft(0, 44100, 1000000), 2048);
    EXPECT_EQ(EffectiveSpectrogramFft(0, 44100, 1000), 512);  // a 23 ms click
    EXPECT_EQ(EffectiveSpectrogramFft(8192, 44100, 5000), 4096);
    EXPECT_EQ(EffectiveSpectrogramFft(0, 8000, 256), 256);
    EXPECT_EQ(EffectiveSpectrogramFft(0, 8000, 255), 0);

    const std::vector<std::uint8_t> pcm(2 * 200, 0);
    const Picture p = Compute(pcm, 1, 16, 8000, SpectrogramSettings{}, 10, 20);
    EXPECT_TRUE(p.plan.tooShort());
    EXPECT_TRUE(std::isnan(p.Column(0)[0]));
}

// The vectorised conversion gives the scalar loop's numbers in every view.
TEST(SpectrogramTest, ConversionIsTheSameOnBothPaths) {
    for (const int channels : {1, 2}) {
        const auto pcm = Pcm(16, channels, 37, [](int i, int c) {
            return std::sin(i * 0.7 + c) * (i % 3 == 0 ? 1.0 : 0.3);
        });
        for (const ChannelView view : {ChannelView::kMix, ChannelView::kOne, ChannelView::kAll}) {
            SpectrogramSettings settings;
            settings.channels = view;
            settings.channel = channels - 1;
            const SpectrogramPlan plan(settings, 8000, channels, 37, 0, 37, 1, 1);
            std::vector<double> fast(2 * 37), plain(2 * 37);
            ConvertStrips(plan, pcm.data(), 16, 37, fast.data(), 37);
            const bool allowed = AllowAvx2(false);
            ConvertStrips(plan, pcm.data(), 16, 37, plain.data(), 37);
            AllowAvx2(allowed);
            EXPECT_EQ(fast, plain) << channels << " channels, view " << static_cast<int>(view);
        }
    }
}

// The same recording streamed in uneven chunks gives the same levels, bit
// for bit, as from memory, also when the layout expected a longer file;
// only a few frames' worth of samples is held at once.
TEST(SpectrogramTest, TheStreamedPictureEqualsThePictureFromMemory) {
    const int rate = 22050, frames = 12 * rate + 777;
    const auto pcm = Pcm(16, 2, frames, [&](int i, int c) {
        const double t = static_cast<double>(i) / rate;
        return 0.4 * std::sin(2 * std::numbers::pi * (300 + 200 * c) * t * (1 + t / 4)) +
               0.1 * std::sin(2 * std::numbers::pi * 5000 * t) * (i % 5000 < 300);
    });
    WorkerPool pool(2, false);
    for (const ChannelView view : {ChannelView::kMix, ChannelView::kAll}) {
        for (const std::uint64_t expected :
             {static_cast<std::uint64_t>(frames), static_cast<std::uint64_t>(frames) + 3000}) {
            SpectrogramSettings settings;
            settings.channels = view;
            settings.logFrequency = view == ChannelView::kAll;
            const SpectrogramPlan plan(settings, rate, 2, expected, 0,
                                       static_cast<double>(expected), 97, 60);
            SpectrogramLevels whole(plan.columns(), plan.levelsPerColumn());
            ASSERT_EQ(whole.Compute(plan, Source(pcm, 2, 16, rate), 1, nullptr), 0);

            SpectrogramStream stream(plan, 16, pool);
            for (std::size_t at = 0, chunk = 1; at < static_cast<std::size_t>(frames);
                 at += chunk, chunk = chunk * 7 % 3001 + 1)
                stream.Push(pcm.data() + 4 * at,
                            std::min<std::size_t>(chunk, static_cast<std::size_t>(frames) - at));
            stream.Finish();
            ASSERT_TRUE(stream.levels().AllDone());
            for (int c = 0; c < plan.columns(); ++c) {
                ASSERT_EQ(std::memcmp(stream.levels().Column(c), whole.Column(c),
                                      sizeof(float) * plan.levelsPerColumn()),
                          0)
                    << "column " << c << " expected " << expected;
            }
            if (expected != static_cast<std::uint64_t>(frames)) {
                EXPECT_TRUE(std::isnan(whole.Column(96)[0]));  // past the true end
            }
            EXPECT_LT(stream.peakHeldFrames(), static_cast<std::size_t>(frames) / 3);
        }
    }
}

// A run on a pool computes what the direct computation does, in short tasks
// that leave room for other work; after Stop no column is started any more.
TEST(SpectrogramTest, ARunOnAPoolMatchesSharesThePoolAndStops) {
    const int rate = 16000;
    const std::vector<std::uint8_t> pcm =
        test::Pcm(16, test::Sine(1, rate, 60 * rate, 1000, 16000));  // 60 s
    const SpectrogramSource source = Source(pcm, 1, 16, rate);
    const int columns = 400, rows = 40;
    SpectrogramSettings settings;
    auto plan = std::make_shared<SpectrogramPlan>(settings, rate, 1, source.totalFrames, 0,
                                                  source.totalFrames, columns, rows);
    auto done = [](const SpectrogramLevels& levels) {
        int n = 0;
        for (int c = 0; c < levels.columns(); ++c) n += levels.Column(c) != nullptr;
        return n;
    };
    auto idle = [](const WorkerPool& pool) {
        while (pool.Busy() != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };

    SpectrogramLevels direct(columns, rows);
    ASSERT_EQ(direct.Compute(*plan, source, 1, nullptr), 0);
    {
        WorkerPool pool(1, false);
        auto levels = std::make_shared<SpectrogramLevels>(columns, rows);
        // The worker is held until the run's first task and the other work
        // are both queued, in that order.
        std::atomic<bool> release{false};
        pool.Post([&] {
            while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        SpectrogramRun run(pool, plan, levels, source, 1);
        std::atomic<int> doneWhenOtherWorkRan{-1};
        pool.Post([&] { doneWhenOtherWorkRan.store(done(*levels)); });
        release.store(true);
        idle(pool);
        EXPECT_FALSE(run.Busy());
        EXPECT_LT(doneWhenOtherWorkRan.load(), columns);  // queued between two tasks
        for (int c = 0; c < columns; ++c)
            ASSERT_TRUE(std::equal(direct.Column(c), direct.Column(c) + rows, levels->Column(c)))
                << c;
    }
    {
        WorkerPool pool(2, false);
        auto levels = std::make_shared<SpectrogramLevels>(columns, rows);
        // Both workers are held until the run is stopped: its queued tasks
        // then end without starting a column.
        std::atomic<bool> release{false};
        for (int i = 0; i < 2; ++i)
            pool.Post([&] {
                while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            });
        SpectrogramRun run(pool, plan, levels, source, 2);
        run.Stop();
        const int atStop = done(*levels);
        release.store(true);
        idle(pool);
        EXPECT_FALSE(run.Busy());
        EXPECT_EQ(done(*levels), atStop);
        EXPECT_LT(atStop, columns);
    }
}

}  // namespace
}  // namespace vurma
