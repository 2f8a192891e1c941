// Where the recording report's time goes: the whole accumulator on one
// minute of 44.1 kHz stereo 16-bit noise, next to libebur128 alone doing
// the report's loudness (integrated, range, the last 100 ms at every
// 100 ms step) and its true peak for one channel, in the same run. Prints
// each part as a share of the whole and the throughput in times real time.
#include <benchmark/benchmark.h>
#include <ebur128.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "analysis/recording_report.h"
#include "analysis/worker_pool.h"
#include "ratio_reporter.h"

namespace {

constexpr int kRate = 44100;
constexpr std::size_t kFrames = kRate * 60;

const std::vector<std::int16_t>& Noise() {
    static const std::vector<std::int16_t> pcm = [] {
        std::vector<std::int16_t> v(kFrames * 2);
        std::mt19937 rng(3);
        std::normal_distribution<double> n(0.0, 3000.0);
        for (auto& s : v) s = static_cast<std::int16_t>(std::clamp(n(rng), -32768.0, 32767.0));
        return v;
    }();
    return pcm;
}

void Accumulator(benchmark::State& state) {
    const auto& pcm = Noise();
    for (auto _ : state) {
        const vurma::RecordingReport r = vurma::MeasurePcm(
            reinterpret_cast<const std::uint8_t*>(pcm.data()), pcm.size() * 2, {2, 16, kRate});
        benchmark::DoNotOptimize(r.durationS);
    }
}

void Loudness(benchmark::State& state) {
    const auto& pcm = Noise();
    for (auto _ : state) {
        ebur128_state* st =
            ebur128_init(2, kRate, EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_HISTOGRAM);
        double m = 0;
        for (std::size_t at = 0; at < kFrames; at += kRate / 10) {
            ebur128_add_frames_short(st, pcm.data() + 2 * at, kRate / 10);
            ebur128_loudness_window(st, 100, &m);
        }
        ebur128_loudness_global(st, &m);
        ebur128_loudness_range(st, &m);
        benchmark::DoNotOptimize(m);
        ebur128_destroy(&st);
    }
}

void TruePeakOneChannel(benchmark::State& state) {
    const auto& pcm = Noise();
    std::vector<float> mono(kFrames);
    for (std::size_t i = 0; i < kFrames; ++i) mono[i] = pcm[2 * i] / 32768.0f;
    for (auto _ : state) {
        ebur128_state* st = ebur128_init(1, kRate, EBUR128_MODE_TRUE_PEAK);
        for (std::size_t at = 0; at < kFrames; at += 32768)
            ebur128_add_frames_float(st, mono.data() + at,
                                     std::min<std::size_t>(32768, kFrames - at));
        double peak = 0;
        ebur128_true_peak(st, 0, &peak);
        benchmark::DoNotOptimize(peak);
        ebur128_destroy(&st);
    }
}

BENCHMARK(Accumulator)->Unit(benchmark::kMillisecond)->Repetitions(3)->MeasureProcessCPUTime();
BENCHMARK(Loudness)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(TruePeakOneChannel)->Unit(benchmark::kMillisecond)->Repetitions(3);

}  // namespace

int main(int argc, char** argv) {
    // CPU time of the whole process, comparable part by part.
    vurma::WorkerPool::SetSharedThreads(1, false);
    benchmark::Initialize(&argc, argv);
    vurma::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const double whole = reporter.times["Accumulator/"];
    const double loud = reporter.times["Loudness/"];
    const double peak = reporter.times["TruePeakOneChannel/"];
    if (whole <= 0) return 0;
    std::printf("\nreport of 60 s stereo: %.0f ms CPU (%.0fx real time)\n", whole, 60000.0 / whole);
    std::printf("  libebur128 loudness:           %6.0f ms (%4.1f%%)\n", loud, 100 * loud / whole);
    std::printf("  libebur128 true peak, 2 x      %6.0f ms (%4.1f%%)\n", peak, 200 * peak / whole);
    std::printf("  the rest (ours, conversion):   %6.0f ms (%4.1f%%)\n", whole - loud - 2 * peak,
                100 * (whole - loud - 2 * peak) / whole);
    return 0;
}
