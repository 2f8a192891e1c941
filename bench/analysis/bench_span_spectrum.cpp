// The span spectrum of a whole 10-minute 44.1 kHz stereo capture (16-bit
// PCM in memory) at N = 65536, 50% overlap, Hann, mix, next to its anchor:
// the same frames mixed and windowed, FFTW's measured r2c plan, the same
// power sums and maxima and the same dB conversion, on one thread. Both
// report the process's CPU time (the span spectrum also uses the pool's
// threads) and the wall time; prints the CPU ratio and its target.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <vector>

#include "analysis/span_spectrum.h"
#include "analysis/window_shape.h"
#include "analysis/worker_pool.h"
#include "ratio_reporter.h"

namespace {

constexpr double kTarget = 1.5;
constexpr int kRate = 44100;
constexpr int kFrames = kRate * 600;
constexpr int kN = 65536;

// A gliding chord on the left, half of it on the right.
const std::vector<std::uint8_t>& Capture() {
    static const std::vector<std::uint8_t> pcm = [] {
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(kFrames) * 4);
        double phase = 0;
        for (int i = 0; i < kFrames; ++i) {
            const double t = static_cast<double>(i) / kRate;
            phase += 2 * std::numbers::pi * (440 + 220 * std::sin(2 * std::numbers::pi * t / 60)) /
                     kRate;
            const double v = 0.3 * std::sin(phase) + 0.2 * std::sin(1.5 * phase);
            const auto l = static_cast<std::int16_t>(std::lround(v * 32767));
            const auto r = static_cast<std::int16_t>(l / 2);
            std::uint8_t* p = bytes.data() + static_cast<std::size_t>(i) * 4;
            p[0] = static_cast<std::uint8_t>(l);
            p[1] = static_cast<std::uint8_t>(l >> 8);
            p[2] = static_cast<std::uint8_t>(r);
            p[3] = static_cast<std::uint8_t>(r >> 8);
        }
        return bytes;
    }();
    return pcm;
}

void BM_SpanSpectrum(benchmark::State& state) {
    const std::vector<std::uint8_t>& pcm = Capture();
    const vurma::PcmView view{pcm.data(), static_cast<std::uint32_t>(pcm.size()), 2, 16};
    vurma::SpanSpectrumSettings settings;
    settings.fftSize = kN;
    for (auto _ : state) {
        const vurma::SpanSpectrum s = vurma::ComputeSpanSpectrum(view, kRate, 0, kFrames, settings,
                                                                 &vurma::WorkerPool::Shared());
        benchmark::DoNotOptimize(s.curves[0].averageDb.data());
    }
}
BENCHMARK(BM_SpanSpectrum)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_FftwAnchor(benchmark::State& state) {
    const std::vector<std::uint8_t>& pcm = Capture();
    double* in = fftw_alloc_real(kN);
    fftw_complex* out = fftw_alloc_complex(kN / 2 + 1);
    fftw_plan plan = fftw_plan_dft_r2c_1d(kN, in, out, FFTW_MEASURE);
    const std::vector<double> window = vurma::MakeWindow(vurma::WindowShape::kHann, kN);
    const double scale = vurma::DbfsPowerScale(window);
    const int bins = kN / 2 + 1;
    std::vector<double> sum(bins), max(bins), avgDb(bins), maxDb(bins);
    const auto sample = [&](std::size_t frame, int c) {
        const std::uint8_t* p = pcm.data() + frame * 4 + 2 * c;
        return static_cast<std::int16_t>(p[0] | (p[1] << 8)) / 32768.0;
    };
    for (auto _ : state) {
        std::fill(sum.begin(), sum.end(), 0.0);
        std::fill(max.begin(), max.end(), 0.0);
        std::int64_t frames = 0;
        for (std::size_t start = 0; start + kN <= static_cast<std::size_t>(kFrames);
             start += kN / 2, ++frames) {
            for (int i = 0; i < kN; ++i)
                in[i] = 0.5 * (sample(start + i, 0) + sample(start + i, 1)) * window[i];
            fftw_execute(plan);
            for (int k = 0; k < bins; ++k) {
                const double p = out[k][0] * out[k][0] + out[k][1] * out[k][1];
                sum[k] += p;
                max[k] = std::max(max[k], p);
            }
        }
        for (int k = 0; k < bins; ++k) {
            avgDb[k] = vurma::PowerToDbfs(sum[k] / frames, scale, vurma::kSpanFloorDb);
            maxDb[k] = vurma::PowerToDbfs(max[k], scale, vurma::kSpanFloorDb);
        }
        benchmark::DoNotOptimize(avgDb.data());
        benchmark::DoNotOptimize(maxDb.data());
    }
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
}
BENCHMARK(BM_FftwAnchor)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    Capture();  // made before anything is timed
    benchmark::Initialize(&argc, argv);
    vurma::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const double ratio = reporter.Ratio("BM_SpanSpectrum/", "BM_FftwAnchor/");
    std::printf(
        "\nspan spectrum, 10 min stereo, N=%d, mix: %.0f ms CPU, anchor (FFTW r2c) %.0f ms CPU: "
        "%.2fx (target <= %.1fx)\n",
        kN, reporter.times["BM_SpanSpectrum/"], reporter.times["BM_FftwAnchor/"], ratio, kTarget);
    return 0;
}
