// One spectrum (FFT and dB conversion) per FFT size next to FFTW's real-input
// plan followed by the same dB loop, measured in the same run; prints the
// ratio per size and its target. Also one whole analysis pass per size.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "analysis/analysis_pass.h"
#include "analysis/fft.h"
#include "ratio_reporter.h"

namespace {

constexpr double kTarget = 2.5;  // within 2.5x of the anchor (aim: 2x)

std::vector<double> Noise(int n) {
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<double> x(n);
    for (double& v : x) v = dist(rng);
    return x;
}

void BM_Spectrum(benchmark::State& state) {
    const unsigned p = static_cast<unsigned>(state.range(0));
    const std::vector<double> input = Noise(1 << p);
    auto spectrum = std::make_unique<vurma::SpectrumArrays>();
    for (auto _ : state) {
        vurma::ComputeSpectrum(p, input.data(), spectrum->db, spectrum->re, spectrum->im);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Spectrum)->DenseRange(9, 12)->Unit(benchmark::kMicrosecond);

// The anchor: FFTW's measured r2c plan, then ComputeSpectrum's dB loop.
void BM_FftwSpectrum(benchmark::State& state) {
    const int N = 1 << state.range(0);
    double* in = fftw_alloc_real(N);
    fftw_complex* out = fftw_alloc_complex(N / 2 + 1);
    fftw_plan plan = fftw_plan_dft_r2c_1d(N, in, out, FFTW_MEASURE);
    const std::vector<double> input = Noise(N);
    for (int i = 0; i < N; ++i) in[i] = input[i];
    auto spectrum = std::make_unique<vurma::SpectrumArrays>();
    double* db = spectrum->db;
    static const double kLog10Of2 = std::log10(2.0);
    const int halfN = N / 2;
    for (auto _ : state) {
        fftw_execute(plan);
        for (int k = 0; k <= halfN; ++k) {
            out[k][0] = out[k][0] / halfN;
            out[k][1] = out[k][1] / halfN;
            const double power = out[k][0] * out[k][0] + out[k][1] * out[k][1];
            db[k] = kLog10Of2 * std::log2(power) * 10;
        }
        benchmark::ClobberMemory();
    }
    fftw_destroy_plan(plan);
    fftw_free(out);
    fftw_free(in);
}
BENCHMARK(BM_FftwSpectrum)->DenseRange(9, 12)->Unit(benchmark::kMicrosecond);

// Window x gain, spectrum, peak search and both readouts (Hamming, gain 1).
void BM_AnalyzePass(benchmark::State& state) {
    const int fftIndex = static_cast<int>(state.range(0));
    const int n = 44100;
    const std::vector<double> samples = Noise(n);
    std::vector<double> windowed(n);
    auto spectrum = std::make_unique<vurma::SpectrumArrays>();
    vurma::AnalysisSettings settings;
    settings.fftIndex = fftIndex;
    vurma::AnalysisResult result;
    for (auto _ : state) {
        benchmark::DoNotOptimize(vurma::Analyze(samples.data(), windowed.data(), n, 1000, 44100,
                                                settings, *spectrum, &result));
        benchmark::ClobberMemory();
    }
    state.SetLabel("N=" + std::to_string(512 << fftIndex));
}
BENCHMARK(BM_AnalyzePass)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    vurma::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n");
    for (int p = 9; p <= 12; ++p) {
        const std::string arg = "/" + std::to_string(p);
        const auto ours = reporter.times.find("BM_Spectrum" + arg);
        const auto fftw = reporter.times.find("BM_FftwSpectrum" + arg);
        if (ours == reporter.times.end() || fftw == reporter.times.end()) continue;
        std::printf(
            "N=%4d: spectrum %7.2f us, FFTW r2c + same dB loop %7.2f us, "
            "ratio %.2fx (target <= %.1fx)\n",
            1 << p, ours->second, fftw->second, ours->second / fftw->second, kTarget);
    }
    benchmark::Shutdown();
    return 0;
}
