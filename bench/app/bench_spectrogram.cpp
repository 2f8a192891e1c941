// `vurma --spectrogram` at 800x500 against `sox FILE -n remix - spectrogram`
// of the same size and against `gst-launch-1.0 filesrc ! decodebin !
// fakesink`, on a 10-minute 44.1 kHz stereo WAV and the same audio as FLAC
// and MP3. Prints the wall times and both ratios per file; the targets are
// under 1.0 against SoX and under 1.5 against the plain decode.
//
// The media files are generated once into VURMA_BENCH_DIR (default
// /tmp/vurma-spectrogram-bench) and kept for later runs.
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

// A chord gliding up and down with a slow tremolo, so that the picture has
// something to show; written in one-second blocks.
bool WriteWav(const std::string& path) {
    double phase = 0;
    return vurma::bench::WriteStereoWav(path, kRate, kSeconds, [&phase](double t) {
        phase += 2 * M_PI * (440 + 220 * std::sin(2 * M_PI * t / 60)) / kRate;
        return (0.3 * std::sin(phase) + 0.2 * std::sin(1.5 * phase) + 0.1 * std::sin(3 * phase)) *
               (0.6 + 0.4 * std::sin(2 * M_PI * 0.1 * t));
    });
}

void Time(benchmark::State& state, const std::string& name, const std::string& cmd) {
    vurma::bench::TimeCommand(state, g_best, name, cmd);
}

void Register(const std::string& kind, const std::string& media) {
    const std::string png = g_dir + "/out-" + kind;
    const std::map<std::string, std::string> commands = {
        {"gst",
         "gst-launch-1.0 -q filesrc location='" + media + "' ! decodebin ! fakesink >/dev/null"},
        {"sox", "sox '" + media + "' -n remix - spectrogram -x 800 -y 500 -o '" + png +
                    "-sox.png' 2>/dev/null"},
        {"vurma", std::string("'") + VURMA_EXE + "' --spectrogram '" + png +
                      "-vurma.png' --size 800x500 '" + media + "' >/dev/null"},
    };
    for (const auto& [tool, cmd] : commands) {
        benchmark::RegisterBenchmark((tool + "/" + kind).c_str(),
                                     [=](benchmark::State& s) { Time(s, tool + "/" + kind, cmd); })
            ->Iterations(tool == "sox" ? 1 : 3)  // SoX takes a good while
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
}

}  // namespace

int main(int argc, char** argv) {
    g_dir = vurma::bench::BenchDir("/tmp/vurma-spectrogram-bench");

    const std::string wav = g_dir + "/chord-10min.wav";
    if (!vurma::bench::EnsureWav(wav, WriteWav)) return 1;
    std::vector<std::pair<std::string, std::string>> files = {{"wav", wav}};
    for (const auto& [kind, encoder] : std::vector<std::pair<std::string, std::string>>{
             {"flac", "flacenc"}, {"mp3", "lamemp3enc bitrate=192"}}) {
        const std::string path = g_dir + "/chord-10min." + kind;
        if (!Exists(path)) {
            std::printf("generating %s\n", path.c_str());
            Shell("gst-launch-1.0 -q filesrc location='" + wav + "' ! wavparse ! audioconvert ! " +
                  encoder + " ! filesink location='" + path + ".part' && mv '" + path + ".part' '" +
                  path + "'");
        }
        if (Exists(path)) {
            files.emplace_back(kind, path);
        } else {
            std::printf("no %s: its GStreamer encoder is not available\n", kind.c_str());
        }
    }
    if (Shell("sox --version >/dev/null 2>&1") != 0)
        std::printf("sox is missing: run scripts/setup\n");
    for (const auto& [kind, path] : files) Register(kind, path);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\n%-5s %9s %9s %9s %12s %12s\n", "file", "gst (s)", "sox (s)", "vurma (s)",
                "vurma/sox", "vurma/gst");
    for (const auto& [kind, path] : files) {
        const auto g = g_best.find("gst/" + kind);
        const auto x = g_best.find("sox/" + kind);
        const auto v = g_best.find("vurma/" + kind);
        if (g == g_best.end() || x == g_best.end() || v == g_best.end()) continue;
        std::printf("%-5s %9.3f %9.3f %9.3f %11.2fx %11.2fx\n", kind.c_str(), g->second, x->second,
                    v->second, v->second / x->second, v->second / g->second);
    }
    std::printf("targets: vurma/sox under 1.00x, vurma/gst under 1.50x\n");
    return 0;
}
