// `vurma --export` against `gst-launch-1.0 filesrc ! decodebin ! fakesink` on
// a 10-minute 44.1 kHz stereo WAV and, when an MP3 encoder is installed, the
// same audio as MP3. Prints both wall times and their ratio per file.
//
// The media files are generated once into VURMA_BENCH_DIR (default
// /tmp/vurma-export-bench) and kept for later runs.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench_commands.h"
#include "bench_util.h"
#include "test_media.h"

namespace {

using vurma::bench::Exists;
using vurma::bench::Shell;

constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr int kSeconds = 600;

std::string g_dir;
std::map<std::string, double> g_best;  // fastest wall time per run name, seconds

// A chord of three tones with a slow tremolo, written in one-second blocks.
bool WriteWav(const std::string& path) {
    return vurma::bench::WriteStereoWav(path, kRate, kSeconds, [](double t) {
        return (0.3 * std::sin(2 * M_PI * 440 * t) + 0.2 * std::sin(2 * M_PI * 660 * t) +
                0.1 * std::sin(2 * M_PI * 1320 * t)) *
               (0.6 + 0.4 * std::sin(2 * M_PI * 0.1 * t));
    });
}

void Time(benchmark::State& state, const std::string& name, const std::string& cmd) {
    vurma::bench::TimeCommand(state, g_best, name, cmd);
}

void Register(const std::string& kind, const std::string& media) {
    const std::string csv = g_dir + "/out-" + kind + ".csv";
    const std::string exportCmd = std::string("'") + VURMA_EXE + "' --export '" + csv +
                                  "' --search '" + media + "' >/dev/null";
    const std::string gstCmd =
        "gst-launch-1.0 -q filesrc location='" + media + "' ! decodebin ! fakesink >/dev/null";
    benchmark::RegisterBenchmark(("gst_decode/" + kind).c_str(),
                                 [=](benchmark::State& s) { Time(s, "gst/" + kind, gstCmd); })
        ->Iterations(3)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("vurma_export/" + kind).c_str(),
                                 [=](benchmark::State& s) { Time(s, "vurma/" + kind, exportCmd); })
        ->Iterations(3)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
    g_dir = vurma::bench::BenchDir("/tmp/vurma-export-bench");

    const std::string wav = g_dir + "/tone-10min.wav";
    const std::string mp3 = g_dir + "/tone-10min.mp3";
    if (!vurma::bench::EnsureWav(wav, WriteWav)) return 1;
    std::vector<std::string> kinds = {"wav"};
    if (!Exists(mp3)) {
        if (Shell("gst-inspect-1.0 lamemp3enc >/dev/null 2>&1") == 0) {
            std::printf("generating %s\n", mp3.c_str());
            Shell("gst-launch-1.0 -q filesrc location='" + wav +
                  "' ! wavparse ! audioconvert ! lamemp3enc bitrate=192 ! filesink location='" +
                  mp3 + ".part' && mv '" + mp3 + ".part' '" + mp3 + "'");
        }
    }
    if (Exists(mp3)) {
        kinds.push_back("mp3");
    } else {
        std::printf("no MP3: lamemp3enc (gstreamer1.0-plugins-good) is not available\n");
    }
    for (const auto& k : kinds) Register(k, k == "wav" ? wav : mp3);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\n%-6s %12s %12s %8s\n", "file", "gst (s)", "vurma (s)", "ratio");
    for (const auto& k : kinds) {
        const auto g = g_best.find("gst/" + k);
        const auto v = g_best.find("vurma/" + k);
        if (g == g_best.end() || v == g_best.end()) continue;
        std::printf("%-6s %12.3f %12.3f %7.2fx\n", k.c_str(), g->second, v->second,
                    v->second / g->second);
    }
    return 0;
}
