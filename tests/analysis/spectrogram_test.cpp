// Known pictures: three tones on both frequency axes, and a click narrower
// than a column, computed on two threads, and a run on a worker pool.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

#include "analysis/spectrogram.h"
#include "analysis/worker_pool.h"
#include "test_media.h"

namespace vurma {
namespace {

constexpr int kRate = 16000;

struct Picture {
    SpectrogramPlan plan;
    SpectrogramLevels levels;
};

// 16-bit mono PCM bytes and the levels of all its columns.
Picture Compute(const std::vector<std::uint8_t>& pcm, const SpectrogramSettings& settings,
                int columns, int rows) {
    SpectrogramSource source;
    source.pcm = {pcm.data(), static_cast<std::uint32_t>(pcm.size()), 1, 16};
    source.sampleRate = kRate;
    source.totalFrames = CompleteFrames(source.pcm);
    source.complete = true;
    Picture p{SpectrogramPlan(settings, kRate, 0, source.totalFrames, columns, rows),
              SpectrogramLevels(columns, rows)};
    EXPECT_EQ(p.levels.Compute(p.plan, source, 2, nullptr), 0);
    return p;
}

TEST(SpectrogramTest, ThreeTonesLieOnTheirRowsOnBothAxes) {
    std::vector<std::int32_t> samples;
    for (double hz : {1000, 2000, 4000}) {
        const std::vector<std::int32_t> tone = test::Sine(1, kRate, 4 * kRate, hz, 16000);
        samples.insert(samples.end(), tone.begin(), tone.end());
    }
    const std::vector<std::uint8_t> pcm = test::Pcm(16, samples);
    for (bool log : {false, true}) {
        SpectrogramSettings settings;
        settings.logFrequency = log;
        const int columns = 90, rows = 300;
        const Picture p = Compute(pcm, settings, columns, rows);
        // The brightest row of each third of the picture.
        std::vector<double> y;
        for (int third = 0; third < 3; ++third) {
            std::vector<double> sum(rows, 0.0);
            for (int c = third * 30 + 2; c < third * 30 + 28; ++c)
                for (int r = 0; r < rows; ++r) sum[r] += p.levels.Column(c)[r];
            y.push_back(std::max_element(sum.begin(), sum.end()) - sum.begin() + 0.5);
        }
        if (log) {  // octaves equally spaced
            EXPECT_NEAR(y[0] - y[1], y[1] - y[2], 1.0);
            EXPECT_NEAR(y[0], p.plan.axis().YOf(1000), 1.0);
        } else {  // 1 : 2 : 4 from 0 Hz at the bottom
            const double up1 = rows - y[0], up2 = rows - y[1], up4 = rows - y[2];
            EXPECT_NEAR(up2, 2 * up1, 1.5);
            EXPECT_NEAR(up4, 4 * up1, 2.5);
            EXPECT_NEAR(up1, rows * 1000.0 / (kRate / 2), 1.0);
        }
    }
}

TEST(SpectrogramTest, AClickBetweenTwoColumnCentresShows) {
    // 10 s of silence with a 1 ms full-scale click on the border of columns
    // 4 and 5 of ten: far from both column centres, and far narrower than a
    // column, but inside frames half an FFT apart.
    std::vector<std::int32_t> samples(10 * kRate, 0);
    std::fill_n(samples.begin() + 5 * kRate - 8, kRate / 1000, 32767);
    SpectrogramSettings settings;
    settings.fftIndex = 0;  // 512
    const Picture p = Compute(test::Pcm(16, samples), settings, 10, 50);
    for (int c = 0; c < 10; ++c) {
        const float loudest = *std::max_element(p.levels.Column(c), p.levels.Column(c) + 50);
        if (c == 4 || c == 5) {
            EXPECT_GT(loudest, -40) << c;
        } else {
            EXPECT_EQ(loudest, -INFINITY) << c;  // digital silence
        }
    }
}

// A run on a pool computes what the direct computation does, in short tasks
// that leave room for other work; after Stop no column is started any more.
TEST(SpectrogramTest, ARunOnAPoolMatchesSharesThePoolAndStops) {
    const std::vector<std::uint8_t> pcm =
        test::Pcm(16, test::Sine(1, kRate, 60 * kRate, 1000, 16000));  // 60 s
    SpectrogramSource source;
    source.pcm = {pcm.data(), static_cast<std::uint32_t>(pcm.size()), 1, 16};
    source.sampleRate = kRate;
    source.totalFrames = CompleteFrames(source.pcm);
    source.complete = true;
    const int columns = 400, rows = 40;
    SpectrogramSettings settings;
    auto plan =
        std::make_shared<SpectrogramPlan>(settings, kRate, 0, source.totalFrames, columns, rows);
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
        SpectrogramRun run(pool, plan, levels, source, 1);
        std::atomic<int> doneWhenOtherWorkRan{-1};
        pool.Post([&] { doneWhenOtherWorkRan.store(done(*levels)); });
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
        SpectrogramRun run(pool, plan, levels, source, 2);
        run.Stop();
        const int atStop = done(*levels);
        idle(pool);
        EXPECT_FALSE(run.Busy());
        EXPECT_EQ(done(*levels), atStop);
        EXPECT_LT(atStop, columns);
    }
}

}  // namespace
}  // namespace vurma
