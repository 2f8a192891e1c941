// What the command-line benchmarks share: a long stereo WAV written once and
// the wall time of a shell command, the fastest run of each name kept.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bench_util.h"
#include "test_media.h"

namespace vurma::bench {

// A 16-bit stereo WAV of `seconds` at `rate`: `signal(t)` (within -1..1) on
// the left, half of it on the right, written in one-second blocks and renamed
// into place only when whole.
inline bool WriteStereoWav(const std::string& path, int rate, int seconds,
                           const std::function<double(double t)>& signal) {
    std::ofstream f(path + ".part", std::ios::binary);
    const auto dataBytes = static_cast<std::uint32_t>(rate) * seconds * 2 * 2;
    const std::vector<std::uint8_t> header = vurma::test::WavHeader(2, 16, rate, dataBytes);
    f.write(reinterpret_cast<const char*>(header.data()),
            static_cast<std::streamsize>(header.size()));
    std::vector<std::int16_t> block(static_cast<std::size_t>(rate) * 2);
    for (int s = 0; s < seconds; ++s) {
        for (int i = 0; i < rate; ++i) {
            const auto x = static_cast<std::int16_t>(
                std::lround(signal(s + static_cast<double>(i) / rate) * 32767));
            block[2 * i] = x;
            block[2 * i + 1] = static_cast<std::int16_t>(x / 2);
        }
        f.write(reinterpret_cast<const char*>(block.data()),
                static_cast<std::streamsize>(block.size() * 2));
    }
    f.close();
    return f && std::rename((path + ".part").c_str(), path.c_str()) == 0;
}

// Writes the WAV with `write` unless it is already there; false when it cannot.
inline bool EnsureWav(const std::string& path, bool (*write)(const std::string&)) {
    if (Exists(path)) return true;
    std::printf("generating %s\n", path.c_str());
    if (write(path)) return true;
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return false;
}

// Times `cmd` once per iteration; `best` keeps the fastest wall time per name.
inline void TimeCommand(benchmark::State& state, std::map<std::string, double>& best,
                        const std::string& name, const std::string& cmd) {
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const int rc = Shell(cmd);
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(s);
        if (rc != 0) {
            state.SkipWithError(("command failed: " + cmd).c_str());
            return;
        }
        auto it = best.find(name);
        if (it == best.end() || s < it->second) best[name] = s;
    }
}

}  // namespace vurma::bench
