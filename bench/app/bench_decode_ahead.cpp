// Time from opening a 10-minute 44.1 kHz stereo file in the window to the
// whole recording being browsable (the capture's end and FinishCapture
// done), against a plain GStreamer decode of the same file to a fake sink
// (filesrc ! decodebin ! fakesink) in the same process. WAV, FLAC, MP3 and
// Ogg Vorbis; prints each pair, their ratio and the targets.
//
// The files are generated once into VURMA_BENCH_DIR (default
// /tmp/vurma-decode-ahead-bench) and kept for later runs.
#include <benchmark/benchmark.h>
#include <gst/gst.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "analysis/report_error.h"
#include "bench_util.h"
#include "dialog_probe.h"
#include "media/media_session.h"

namespace {

using vurma::bench::Exists;
using vurma::bench::Median;
using vurma::bench::Shell;

using Clock = std::chrono::steady_clock;

std::string g_dir;
std::map<std::string, std::vector<double>> g_times;  // seconds per run name

// Pink noise at a moderate level, so the compressed formats decode real work.
bool Generate(const std::string& path, const std::string& encoder) {
    if (Exists(path)) return true;
    std::printf("generating %s\n", path.c_str());
    std::fflush(stdout);
    const std::string cmd =
        "gst-launch-1.0 -q audiotestsrc wave=pink-noise volume=0.3 num-buffers=25840 "
        "samplesperbuffer=1024 ! audio/x-raw,format=S16LE,rate=44100,channels=2 ! "
        "audioconvert ! " +
        encoder + " ! filesink location='" + path + ".part' && mv '" + path + ".part' '" + path +
        "'";
    return Shell(cmd) == 0 && Exists(path);
}

// The plain decode: the whole file through decodebin into a fake sink.
double PlainDecode(const std::string& path) {
    const auto t0 = Clock::now();
    gchar* location = g_strescape(path.c_str(), nullptr);
    const std::string launch =
        std::string("filesrc location=\"") + location + "\" ! decodebin ! fakesink";
    g_free(location);
    GstElement* pipeline = gst_parse_launch(launch.c_str(), nullptr);
    if (pipeline == nullptr) return -1;
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* msg = gst_bus_timed_pop_filtered(
        bus, 120 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ok = msg != nullptr && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS;
    if (msg != nullptr) gst_message_unref(msg);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    return ok ? s : -1;
}

// The window: open, then run its event loop until the recording is loaded.
double DecodeAhead(vurma::app::test::TestDialog& dlg, const std::string& path) {
    const auto t0 = Clock::now();
    dlg.OpenMediaFile(QString::fromStdString(path));
    if (dlg.m_nPlayState == 0) return -1;
    while (!dlg.m_bLoaded) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    return dlg.m_nSamples >= 600 * 44100 ? s : -1;
}

void Record(benchmark::State& state, const std::string& name, double seconds) {
    if (seconds < 0) {
        state.SkipWithError(("failed: " + name).c_str());
        return;
    }
    state.SetIterationTime(seconds);
    g_times[name].push_back(seconds);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    vurma::SetReportSink(
        [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });
    g_dir = vurma::bench::BenchDir("/tmp/vurma-decode-ahead-bench");

    const std::vector<std::pair<std::string, std::string>> formats = {
        {"wav", "wavenc"},
        {"flac", "flacenc"},
        {"mp3", "lamemp3enc bitrate=192 ! xingmux"},
        {"ogg", "vorbisenc ! oggmux"},
    };
    auto engine = vurma::media::CreateGstEngine();
    if (engine == nullptr) return 1;
    auto dlg = std::make_unique<vurma::app::test::TestDialog>(engine);
    dlg->OnMute();
    std::vector<std::string> kinds;
    for (const auto& [kind, encoder] : formats) {
        const std::string path = g_dir + "/noise-10min." + kind;
        if (!Generate(path, encoder)) {
            std::printf("no %s: cannot encode with %s\n", kind.c_str(), encoder.c_str());
            continue;
        }
        kinds.push_back(kind);
        benchmark::RegisterBenchmark(("plain_decode/" + kind).c_str(),
                                     [=](benchmark::State& s) {
                                         for (auto _ : s)
                                             Record(s, "gst/" + kind, PlainDecode(path));
                                     })
            ->Iterations(3)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("decode_ahead/" + kind).c_str(),
                                     [=, &dlg](benchmark::State& s) {
                                         for (auto _ : s)
                                             Record(s, "vurma/" + kind, DecodeAhead(*dlg, path));
                                     })
            ->Iterations(3)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    dlg.reset();

    std::printf("\nopen to browsable vs plain decode, medians of 3 (targets: 2.0x, later 1.3x)\n");
    std::printf("%-6s %12s %14s %8s\n", "file", "decode (s)", "browsable (s)", "ratio");
    for (const auto& k : kinds) {
        const double g = Median(g_times["gst/" + k]);
        const double v = Median(g_times["vurma/" + k]);
        if (g <= 0 || v <= 0) continue;
        std::printf("%-6s %12.3f %14.3f %7.2fx\n", k.c_str(), g, v, v / g);
    }
    return 0;
}
