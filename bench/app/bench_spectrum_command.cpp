// `vurma --spectrum` (N = 65536, mix, the whole file) on a 10-minute 44.1 kHz
// stereo MP3 and WAV against a plain decode of the same file
// (`gst-launch-1.0 filesrc ! decodebin ! fakesink`). Prints the wall times
// and the ratio per file, and the same for the commands' CPU time (user and
// system, children), which a busy machine disturbs less; the target is at
// most 1.3x on the MP3.
//
// The media files are generated once into VURMA_BENCH_DIR (default
// /tmp/vurma-spectrum-bench) and kept for later runs.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench_commands.h"
#include "bench_util.h"

namespace {

constexpr int kRate = 44100;
constexpr int kSeconds = 600;
constexpr double kTarget = 1.3;

std::map<std::string, double> g_best;  // fastest wall time per run name, seconds
std::map<std::string, double> g_cpu;   // mean CPU time per run name, seconds

double ChildrenCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A chord gliding up and down with a slow tremolo.
bool WriteWav(const std::string& path) {
    double phase = 0;
    return vurma::bench::WriteStereoWav(path, kRate, kSeconds, [&phase](double t) {
        phase += 2 * M_PI * (440 + 220 * std::sin(2 * M_PI * t / 60)) / kRate;
        return (0.3 * std::sin(phase) + 0.2 * std::sin(1.5 * phase)) *
               (0.6 + 0.4 * std::sin(2 * M_PI * 0.1 * t));
    });
}

void Register(const std::string& kind, const std::string& media, const std::string& dir) {
    const std::map<std::string, std::string> commands = {
        {"decode",
         "gst-launch-1.0 -q filesrc location='" + media + "' ! decodebin ! fakesink >/dev/null"},
        {"spectrum", std::string("'") + VURMA_EXE + "' --spectrum '" + dir + "/out-" + kind +
                         ".csv' --fft 65536 --peaks 5 '" + media + "' >/dev/null"},
    };
    for (const auto& [tool, cmd] : commands) {
        const std::string name = tool + "/" + kind;
        benchmark::RegisterBenchmark(name.c_str(),
                                     [=](benchmark::State& s) {
                                         const double before = ChildrenCpuSeconds();
                                         vurma::bench::TimeCommand(s, g_best, name, cmd);
                                         g_cpu[name] = (ChildrenCpuSeconds() - before) /
                                                       std::max<double>(1, s.iterations());
                                     })
            ->Iterations(3)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = vurma::bench::BenchDir("/tmp/vurma-spectrum-bench");
    const std::string wav = dir + "/chord-10min.wav";
    if (!vurma::bench::EnsureWav(wav, WriteWav)) return 1;
    std::vector<std::pair<std::string, std::string>> files = {{"wav", wav}};
    const std::string mp3 = dir + "/chord-10min.mp3";
    if (!vurma::bench::Exists(mp3)) {
        std::printf("generating %s\n", mp3.c_str());
        vurma::bench::Shell("gst-launch-1.0 -q filesrc location='" + wav +
                            "' ! wavparse ! audioconvert ! lamemp3enc bitrate=192 ! filesink "
                            "location='" +
                            mp3 + ".part' && mv '" + mp3 + ".part' '" + mp3 + "'");
    }
    if (vurma::bench::Exists(mp3)) {
        files.emplace_back("mp3", mp3);
    } else {
        std::printf("no mp3: its GStreamer encoder is not available\n");
    }
    for (const auto& [kind, path] : files) Register(kind, path, dir);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\n%-5s %11s %13s %15s %15s %15s\n", "file", "decode (s)", "spectrum (s)",
                "spectrum/decode", "decode CPU (s)", "spectrum CPU");
    for (const auto& [kind, path] : files) {
        const auto d = g_best.find("decode/" + kind);
        const auto s = g_best.find("spectrum/" + kind);
        if (d == g_best.end() || s == g_best.end()) continue;
        const double dc = g_cpu["decode/" + kind], sc = g_cpu["spectrum/" + kind];
        std::printf("%-5s %11.3f %13.3f %14.2fx %15.3f %8.3f %5.2fx\n", kind.c_str(), d->second,
                    s->second, s->second / d->second, dc, sc, dc > 0 ? sc / dc : 0.0);
    }
    std::printf("target: spectrum/decode at most %.1fx on the MP3\n", kTarget);
    return 0;
}
