// The measuring views' real-input transform (RealFft::Power) next to FFTW's
// measured r2c plan with the same power loop, at the sizes the spectrogram
// and the span spectrum use, measured in the same run; prints the ratio per
// size and its target.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <complex>
#include <cstdio>
#include <random>
#include <vector>

#include "analysis/real_fft.h"
#include "ratio_reporter.h"

namespace {

constexpr double kTarget = 2.0;  // within 2x of the anchor

std::vector<double> Noise(int n) {
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<double> x(n);
    for (double& v : x) v = dist(rng);
    return x;
}

void BM_RealFft(benchmark::State& state) {
    const int n = 1 << state.range(0);
    const vurma::RealFft fft(n);
    const std::vector<double> input = Noise(n);
    std::vector<std::complex<double>> work(fft.bins());
    std::vector<double> power(fft.bins());
    for (auto _ : state) {
        fft.Power(input.data(), work.data(), power.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_RealFft)->DenseRange(8, 16, 1)->Unit(benchmark::kMicrosecond);

void BM_FftwR2c(benchmark::State& state) {
    const int n = 1 << state.range(0);
    double* in = fftw_alloc_real(n);
    fftw_complex* out = fftw_alloc_complex(n / 2 + 1);
    fftw_plan plan = fftw_plan_dft_r2c_1d(n, in, out, FFTW_MEASURE);
    const std::vector<double> input = Noise(n);
    for (int i = 0; i < n; ++i) in[i] = input[i];
    std::vector<double> power(n / 2 + 1);
    for (auto _ : state) {
        fftw_execute(plan);
        for (int k = 0; k <= n / 2; ++k) power[k] = out[k][0] * out[k][0] + out[k][1] * out[k][1];
        benchmark::ClobberMemory();
    }
    fftw_destroy_plan(plan);
    fftw_free(out);
    fftw_free(in);
}
BENCHMARK(BM_FftwR2c)->DenseRange(8, 16, 1)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    vurma::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n");
    for (int p = 8; p <= 16; ++p) {
        const std::string arg = "/" + std::to_string(p);
        const double ratio = reporter.Ratio("BM_RealFft" + arg, "BM_FftwR2c" + arg);
        if (ratio <= 0) continue;
        std::printf("N=%5d: RealFft %8.2f us, FFTW r2c %8.2f us, ratio %.2fx (target <= %.1fx)\n",
                    1 << p, reporter.times["BM_RealFft" + arg], reporter.times["BM_FftwR2c" + arg],
                    ratio, kTarget);
    }
    benchmark::Shutdown();
    return 0;
}
