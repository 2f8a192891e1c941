// `vurma --report --json` on a 10-minute 44.1 kHz stereo file: the MP3
// against its plain decode (`gst-launch-1.0 filesrc ! decodebin ! fakesink`),
// the WAV against `ffmpeg -af ebur128=peak=true -f null -` (loudness and true
// peak alone), and a batch of 16 one-minute MP3 files given to one command
// against the same files reported one after another. Prints the wall times
// and the ratios next to their targets: 1.3x, 0.5x and 0.6x.
//
// The media files are generated once into VURMA_BENCH_DIR (default
// /tmp/vurma-report-bench) and kept for later runs.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench_commands.h"
#include "bench_util.h"

namespace {

using vurma::bench::Exists;
using vurma::bench::Shell;

constexpr int kRate = 44100;
constexpr int kBatchFiles = 16;

std::string g_dir;
std::map<std::string, double> g_best;  // fastest wall time per run name, seconds

// A chord with a slow tremolo over quiet noise: every measure has something to read.
bool WriteWav(const std::string& path, int seconds) {
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0.0, 0.02);
    return vurma::bench::WriteStereoWav(path, kRate, seconds, [&](double t) {
        const double w = 2 * M_PI * 330 * t;
        return (0.3 * std::sin(w) + 0.2 * std::sin(1.5 * w) + 0.1 * std::sin(3 * w)) *
                   (0.6 + 0.4 * std::sin(2 * M_PI * 0.1 * t)) +
               noise(rng);
    });
}

bool WriteLong(const std::string& path) { return WriteWav(path, 600); }
bool WriteMinute(const std::string& path) { return WriteWav(path, 60); }

bool EnsureMp3(const std::string& wav, const std::string& mp3) {
    if (Exists(mp3)) return true;
    std::printf("generating %s\n", mp3.c_str());
    Shell("gst-launch-1.0 -q filesrc location='" + wav +
          "' ! wavparse ! audioconvert ! lamemp3enc bitrate=192 ! filesink location='" + mp3 +
          ".part' && mv '" + mp3 + ".part' '" + mp3 + "'");
    return Exists(mp3);
}

void Register(const std::string& name, const std::string& cmd, int iterations) {
    benchmark::RegisterBenchmark(
        name.c_str(), [=](benchmark::State& s) { vurma::bench::TimeCommand(s, g_best, name, cmd); })
        ->Iterations(iterations)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

double Best(const std::string& name) {
    const auto it = g_best.find(name);
    return it == g_best.end() ? 0 : it->second;
}

}  // namespace

int main(int argc, char** argv) {
    g_dir = vurma::bench::BenchDir("/tmp/vurma-report-bench");
    const std::string wav = g_dir + "/chord-10min.wav", mp3 = g_dir + "/chord-10min.mp3";
    const std::string minuteWav = g_dir + "/chord-1min.wav", minuteMp3 = g_dir + "/chord-1min.mp3";
    if (!vurma::bench::EnsureWav(wav, WriteLong) || !EnsureMp3(wav, mp3) ||
        !vurma::bench::EnsureWav(minuteWav, WriteMinute) || !EnsureMp3(minuteWav, minuteMp3))
        return 1;
    if (Shell("ffmpeg -version >/dev/null 2>&1") != 0)
        std::printf("ffmpeg is missing: run scripts/setup\n");

    const std::string vurma = std::string("'") + VURMA_EXE + "' --report --json ";
    std::string batch;
    for (int i = 0; i < kBatchFiles; ++i) batch += " '" + minuteMp3 + "'";

    Register("decode/mp3",
             "gst-launch-1.0 -q filesrc location='" + mp3 + "' ! decodebin ! fakesink >/dev/null",
             3);
    Register("report/mp3", vurma + "'" + mp3 + "' >/dev/null", 3);
    Register("ffmpeg/wav",
             "ffmpeg -nostdin -nostats -hide_banner -i '" + wav +
                 "' -af ebur128=peak=true -f null - >/dev/null 2>&1",
             2);
    Register("report/wav", vurma + "'" + wav + "' >/dev/null", 2);
    Register("one-by-one/16",
             "for f in" + batch + "; do " + vurma + "\"$f\" || exit 1; done >/dev/null", 1);
    Register("batch/16", vurma + batch + " >/dev/null", 1);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    struct Line {
        const char* what;
        const char* figure;
        const char* anchor;
        double target;
    };
    const Line lines[] = {
        {"MP3 report vs plain decode", "report/mp3", "decode/mp3", 1.3},
        {"WAV report vs ffmpeg ebur128", "report/wav", "ffmpeg/wav", 0.5},
        {"16 files at once vs one by one", "batch/16", "one-by-one/16", 0.6},
    };
    std::printf("\n%-32s %10s %10s %8s %8s\n", "", "figure (s)", "anchor (s)", "ratio", "target");
    for (const Line& l : lines) {
        const double f = Best(l.figure), a = Best(l.anchor);
        if (f <= 0 || a <= 0) continue;
        std::printf("%-32s %10.3f %10.3f %7.2fx %7.2fx\n", l.what, f, a, f / a, l.target);
    }
    std::printf("cores: %d\n", static_cast<int>(std::thread::hardware_concurrency()));
    return 0;
}
