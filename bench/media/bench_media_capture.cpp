// Capture throughput: the whole file decoded through the program's graph
// (unsynchronised, grabber callback filling the CaptureBlock) next to a plain
// GStreamer decode of the same file into a fakesink, in the same run.
// Target: the capture takes at most 1.2 times the plain decode.
#include <benchmark/benchmark.h>
#include <gst/gst.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "bench_util.h"
#include "media/grabber_callback.h"
#include "media/media_session.h"
#include "test_media.h"

namespace {

using vurma::bench::Median;

using namespace vurma::media;

std::map<std::string, std::string>& Files() {
    static std::map<std::string, std::string> files;
    return files;
}

void WriteWav(const std::string& path, int seconds) {
    const int rate = 44100, channels = 2;
    const std::uint32_t bytes = static_cast<std::uint32_t>(seconds) * rate * channels * 2;
    std::vector<std::int16_t> data(bytes / 2);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::int16_t>(12000 * std::sin(0.01 * static_cast<double>(i)));
    }
    std::ofstream f(path, std::ios::binary);
    const std::vector<std::uint8_t> header = vurma::test::WavHeader(channels, 16, rate, bytes);
    f.write(reinterpret_cast<const char*>(header.data()),
            static_cast<std::streamsize>(header.size()));
    f.write(reinterpret_cast<const char*>(data.data()), bytes);
}

// Per-iteration wall times; the summary uses the median, since other work
// on a shared machine disturbs single runs.
std::map<std::string, std::vector<double>>& Seconds() {
    static std::map<std::string, std::vector<double>> seconds;
    return seconds;
}

// GStreamer alone: decode to 16-bit PCM into a fakesink as fast as it goes.
void BM_PlainDecode(benchmark::State& state, std::string kind) {
    const std::string& path = Files()[kind];
    gchar* uri = gst_filename_to_uri(path.c_str(), nullptr);
    const std::string desc = std::string("uridecodebin uri=") + uri +
                             " ! audioconvert ! audio/x-raw,format=S16LE ! fakesink sync=false";
    g_free(uri);
    std::vector<double>& times = Seconds()["plain " + kind];
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        GstElement* pipeline = gst_parse_launch(desc.c_str(), nullptr);
        gst_element_set_state(pipeline, GST_STATE_PLAYING);
        GstBus* bus = gst_element_get_bus(pipeline);
        GstMessage* msg = gst_bus_timed_pop_filtered(
            bus, 60 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        if (msg == nullptr || GST_MESSAGE_TYPE(msg) != GST_MESSAGE_EOS)
            state.SkipWithError("decode");
        if (msg != nullptr) gst_message_unref(msg);
        gst_object_unref(bus);
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
        times.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}

// The program's path: load (render, rewire, size) and capture to the end.
void BM_Capture(benchmark::State& state, std::string kind) {
    const std::string& path = Files()[kind];
    auto engine = CreateGstEngine();
    std::vector<double>& times = Seconds()["capture " + kind];
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        std::mutex m;
        std::condition_variable cv;
        bool notified = false;
        MediaSession session(engine);
        session.SetUnsynchronised(true);
        session.SetEventNotify([&] {
            std::lock_guard lock(m);
            notified = true;
            cv.notify_all();
        });
        LoadedMedia media;
        if (Failed(session.LoadMediaFile(path, &media)) || Failed(session.RunGraph())) {
            state.SkipWithError("load");
            break;
        }
        bool complete = false;
        while (!complete) {
            long code = 0;
            while (session.GetEvent(&code)) complete = complete || code == EC_COMPLETE;
            if (complete) break;
            std::unique_lock lock(m);
            if (!cv.wait_for(lock, std::chrono::seconds(60), [&] { return notified; })) break;
            notified = false;
        }
        if (!complete) state.SkipWithError("no end of media");
        bytes = session.callback()->m_nDataLen.load();
        session.StopGraph();
        times.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["captured_MB"] = static_cast<double>(bytes) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    if (CreateGstEngine() == nullptr) return 1;
    const std::string dir = "/tmp/vurma-bench-media";
    std::system(("mkdir -p " + dir).c_str());
    Files()["wav"] = dir + "/long.wav";
    Files()["ogg"] = dir + "/long.ogg";
    WriteWav(Files()["wav"], 120);
    const std::string encode = "gst-launch-1.0 -q filesrc location=" + Files()["wav"] +
                               " ! wavparse ! audioconvert ! vorbisenc ! oggmux ! filesink "
                               "location=" +
                               Files()["ogg"] + " >/dev/null 2>&1";
    if (std::system(encode.c_str()) != 0) return 1;
    for (const char* kind : {"wav", "ogg"}) {
        benchmark::RegisterBenchmark((std::string("PlainDecode/") + kind).c_str(), BM_PlainDecode,
                                     std::string(kind))
            ->Unit(benchmark::kMillisecond)
            ->Iterations(9);
        benchmark::RegisterBenchmark((std::string("Capture/") + kind).c_str(), BM_Capture,
                                     std::string(kind))
            ->Unit(benchmark::kMillisecond)
            ->Iterations(9);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (const char* kind : {"wav", "ogg"}) {
        const double plain = Median(Seconds()[std::string("plain ") + kind]);
        const double capture = Median(Seconds()[std::string("capture ") + kind]);
        if (plain > 0 && capture > 0) {
            std::printf(
                "%s (120 s, 44.1 kHz stereo): plain decode %.1f ms, capture %.1f ms, "
                "ratio %.2fx (target <= 1.2x)\n",
                kind, plain * 1e3, capture * 1e3, capture / plain);
        }
    }
    return 0;
}
