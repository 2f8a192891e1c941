// Mixing captured PCM down to mono samples, next to a plain memcpy of the
// same PCM bytes in the same run; prints the ratio of the two times for a
// 10-minute capture (far larger than the caches, target 4x) and for one live
// frame (in cache, for information).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "analysis/sample_store.h"
#include "ratio_reporter.h"

namespace {

constexpr std::uint32_t kWholeFile = 44100 * 600;  // 10 minutes at 44.1 kHz
constexpr std::uint32_t kLiveFrame = 4096;         // one frame per timer tick
constexpr double kTarget = 4.0;                    // whole capture, against memcpy

struct Capture {
    Capture(int channels, int bits, std::uint32_t frameCount)
        : frames(frameCount),
          bytes(static_cast<std::size_t>(frameCount) * channels * (bits / 8)),
          samples(frameCount),
          windowed(frameCount),
          copy(bytes.size()) {
        std::mt19937 rng(5);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
        view.data = bytes.data();
        view.dataLen = static_cast<std::uint32_t>(bytes.size());
        view.channels = channels;
        view.bitsPerSample = bits;
    }
    std::uint32_t frames;
    std::vector<std::uint8_t> bytes;
    std::vector<double> samples;
    std::vector<double> windowed;
    std::vector<std::uint8_t> copy;
    vurma::PcmView view;
};

Capture MakeCapture(const benchmark::State& state) {
    return Capture(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                   static_cast<std::uint32_t>(state.range(2)));
}

// PCM bytes read per second, and time per frame (printed in seconds with an
// SI prefix, so "1.2n" is 1.2 ns).
void Finish(benchmark::State& state, const Capture& c) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.bytes.size()));
    state.counters["time_per_frame"] = benchmark::Counter(
        static_cast<double>(c.frames),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Convert(benchmark::State& state) {
    Capture c = MakeCapture(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            vurma::ConvertSamples(c.view, 0, c.frames, c.samples.data(), c.windowed.data(), 0));
        benchmark::ClobberMemory();
    }
    Finish(state, c);
}
BENCHMARK(BM_Convert)
    ->ArgNames({"channels", "bits", "frames"})
    ->Args({2, 16, kWholeFile})
    ->Args({2, 16, kLiveFrame})
    ->Args({1, 16, kWholeFile})
    ->Args({2, 8, kWholeFile})
    ->Args({2, 24, kWholeFile})
    ->Args({6, 16, kWholeFile})
    ->Unit(benchmark::kMicrosecond);

void BM_Memcpy(benchmark::State& state) {
    Capture c = MakeCapture(state);
    for (auto _ : state) {
        std::memcpy(c.copy.data(), c.bytes.data(), c.bytes.size());
        benchmark::ClobberMemory();
    }
    Finish(state, c);
}
BENCHMARK(BM_Memcpy)
    ->ArgNames({"channels", "bits", "frames"})
    ->Args({2, 16, kWholeFile})
    ->Args({2, 16, kLiveFrame})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    vurma::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n");
    for (std::uint32_t frames : {kWholeFile, kLiveFrame}) {
        const std::string args = "/channels:2/bits:16/frames:" + std::to_string(frames);
        const double ratio = reporter.Ratio("BM_Convert" + args, "BM_Memcpy" + args);
        if (ratio <= 0) continue;
        if (frames == kWholeFile)
            std::printf(
                "16-bit stereo, 10 minutes (%u frames): conversion / memcpy of the same "
                "bytes = %.2fx (target <= %.1fx)\n",
                frames, ratio, kTarget);
        else
            std::printf(
                "16-bit stereo, one live frame (%u frames, in cache): conversion / "
                "memcpy = %.2fx (for information)\n",
                frames, ratio);
    }
    benchmark::Shutdown();
    return 0;
}
