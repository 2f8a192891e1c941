// Time of one spectrum (FFT, dB conversion, peak search) and of one whole
// analysis pass per FFT size, in microseconds per call.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "analysis/analysis_pass.h"
#include "analysis/fft.h"

namespace {

std::vector<double> Noise(int n) {
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<double> x(n);
    for (double& v : x) v = dist(rng);
    return x;
}

void BM_SpectrumAndPeak(benchmark::State& state) {
    const unsigned p = static_cast<unsigned>(state.range(0));
    const int N = 1 << p;
    const std::vector<double> input = Noise(N);
    auto spectrum = std::make_unique<vurma::SpectrumArrays>();
    for (auto _ : state) {
        vurma::ComputeSpectrum(p, input.data(), spectrum->db, spectrum->re, spectrum->im);
        benchmark::DoNotOptimize(vurma::FindPeakBin(spectrum->db, N));
        benchmark::ClobberMemory();
    }
    state.SetLabel("N=" + std::to_string(N));
}
BENCHMARK(BM_SpectrumAndPeak)->DenseRange(9, 12)->Unit(benchmark::kMicrosecond);

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

BENCHMARK_MAIN();
