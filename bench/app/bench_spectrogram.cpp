// `vurma --spectrogram` at 800x500 next to its anchors, measured in the same
// run: a plain decode of the same file (`gst-launch-1.0 filesrc ! decodebin
// ! fakesink`) for WAV, FLAC, MP3, Vorbis and Opus versions of one
// 10-minute 44.1 kHz stereo recording, and SoX's fast path (`sox F -n
// spectrogram -x 800 -y 513`, whose DFT size is a power of two) on the WAV.
// Also the peak memory of the command on a 3-hour WAV. Prints each figure
// next to its anchor and the target ratio: WAV at most 1.5x its decode and
// 0.5x SoX, the compressed files at most 1.2x their decode, 150 MB peak.
//
// The media files are generated once into VURMA_BENCH_DIR (default
// /tmp/vurma-spectrogram-bench) and kept for later runs.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bench_commands.h"
#include "bench_util.h"
#include "test_media.h"

namespace {

using vurma::bench::Exists;
using vurma::bench::Shell;

constexpr int kRate = 44100;
constexpr int kSeconds = 600;
constexpr int kLongSeconds = 3 * 3600;

std::string g_dir;
std::map<std::string, double> g_best;     // fastest wall time per run name, seconds
std::map<std::string, double> g_bestCpu;  // least CPU time (user + system) per run name
double g_peakMb = 0;                      // peak resident memory of the 3-hour run

struct Run {
    bool ok = false;
    double wall = 0, cpu = 0, peakMb = 0;
};

// Runs `cmd` through the shell and measures its process tree.
Run RunCommand(const std::string& cmd) {
    Run run;
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return run;
    run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    run.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    run.peakMb = usage.ru_maxrss / 1024.0;  // kB
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

// A chord gliding up and down with a slow tremolo, so that the picture has
// something to show; written in one-second blocks.
bool WriteChord(const std::string& path, int seconds) {
    double phase = 0;
    return vurma::bench::WriteStereoWav(path, kRate, seconds, [&phase](double t) {
        phase += 2 * M_PI * (440 + 220 * std::sin(2 * M_PI * t / 60)) / kRate;
        return (0.3 * std::sin(phase) + 0.2 * std::sin(1.5 * phase) + 0.1 * std::sin(3 * phase)) *
               (0.6 + 0.4 * std::sin(2 * M_PI * 0.1 * t));
    });
}
bool WriteWav(const std::string& path) { return WriteChord(path, kSeconds); }
bool WriteLongWav(const std::string& path) { return WriteChord(path, kLongSeconds); }

// Times `cmd` once per iteration, keeping the fastest wall and CPU times.
void Time(benchmark::State& state, const std::string& name, const std::string& cmd) {
    for (auto _ : state) {
        const Run run = RunCommand(cmd);
        state.SetIterationTime(run.wall);
        if (!run.ok) {
            state.SkipWithError(("command failed: " + cmd).c_str());
            return;
        }
        for (auto [best, value] : {std::pair{&g_best, run.wall}, std::pair{&g_bestCpu, run.cpu}}) {
            const auto it = best->find(name);
            if (it == best->end() || value < it->second) (*best)[name] = value;
        }
    }
}

// Runs `cmd` once and keeps the peak resident memory of its process tree.
void PeakMemory(benchmark::State& state, const std::string& cmd) {
    for (auto _ : state) {
        const Run run = RunCommand(cmd);
        state.SetIterationTime(run.wall);
        if (!run.ok) {
            state.SkipWithError(("command failed: " + cmd).c_str());
            return;
        }
        g_peakMb = run.peakMb;
        state.counters["peak_MB"] = g_peakMb;
    }
}

std::string VurmaCommand(const std::string& media, const std::string& png) {
    return std::string("'") + VURMA_EXE + "' --spectrogram '" + png + "' --size 800x500 '" + media +
           "' >/dev/null";
}

void Register(const std::string& kind, const std::string& media) {
    const std::string png = g_dir + "/out-" + kind;
    std::map<std::string, std::string> commands = {
        {"gst",
         "gst-launch-1.0 -q filesrc location='" + media + "' ! decodebin ! fakesink >/dev/null"},
        {"vurma", VurmaCommand(media, png + "-vurma.png")},
    };
    if (kind == "wav")
        commands["sox"] =
            "sox '" + media + "' -n spectrogram -x 800 -y 513 -o '" + png + "-sox.png' 2>/dev/null";
    for (const auto& [tool, cmd] : commands) {
        benchmark::RegisterBenchmark((tool + "/" + kind).c_str(),
                                     [=](benchmark::State& s) { Time(s, tool + "/" + kind, cmd); })
            ->Iterations(5)
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
             {"flac", "flacenc"},
             {"mp3", "lamemp3enc bitrate=192"},
             {"ogg", "vorbisenc quality=0.5 ! oggmux"},
             {"opus", "audioresample ! opusenc bitrate=128000 ! oggmux"}}) {
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

    const std::string longWav = g_dir + "/chord-3h.wav";
    if (vurma::bench::EnsureWav(longWav, WriteLongWav)) {
        const std::string cmd = VurmaCommand(longWav, g_dir + "/out-3h.png");
        benchmark::RegisterBenchmark("vurma/peak-memory-3h",
                                     [=](benchmark::State& s) { PeakMemory(s, cmd); })
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\nwall time (fastest of 5) and CPU time (user + system, least of 5):\n");
    std::printf("%-5s %9s %9s %9s %10s %7s %10s %9s\n", "file", "gst (s)", "vurma (s)", "sox (s)",
                "vurma/gst", "target", "vurma/sox", "CPU ratio");
    for (const auto& [kind, path] : files) {
        const auto g = g_best.find("gst/" + kind);
        const auto v = g_best.find("vurma/" + kind);
        if (g == g_best.end() || v == g_best.end()) continue;
        const auto x = g_best.find("sox/" + kind);
        std::printf("%-5s %9.3f %9.3f", kind.c_str(), g->second, v->second);
        if (x != g_best.end()) {
            std::printf(" %9.3f", x->second);
        } else {
            std::printf(" %9s", "-");
        }
        std::printf(" %9.2fx %6.1fx", v->second / g->second, kind == "wav" ? 1.5 : 1.2);
        if (x != g_best.end()) {
            std::printf(" %9.2fx", v->second / x->second);
        } else {
            std::printf(" %10s", "-");
        }
        std::printf(" %8.2fx\n", g_bestCpu["vurma/" + kind] / g_bestCpu["gst/" + kind]);
    }
    std::printf("targets: vurma/gst as listed, vurma/sox at most 0.5x (WAV)\n");
    if (g_peakMb > 0)
        std::printf("3-hour WAV: peak memory %.0f MB (target at most 150 MB)\n", g_peakMb);
    return 0;
}
