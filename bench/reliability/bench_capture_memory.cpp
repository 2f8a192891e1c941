// Peak resident memory (VmHWM) of the whole capture of a long 44.1 kHz
// stereo 16-bit file, next to the theoretical size of what it must hold: the
// CaptureBlock (B bytes) and the two sample arrays (2 x F doubles). The file
// is captured as the first playback captures it, through the grabber, but
// unpaced (as the headless modes run), then converted as the end of a
// capture converts it.
//
// Argument: the length in minutes. The WAV is written
// sparse (digital silence) next to this executable and removed afterwards.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "analysis/sample_store.h"
#include "media/grabber_callback.h"
#include "media/media_session.h"

namespace {

// A field of /proc/self/status in bytes ("VmHWM", "VmRSS").
std::uint64_t StatusBytes(const std::string& field) {
    std::ifstream f("/proc/self/status");
    for (std::string line; std::getline(f, line);) {
        if (line.rfind(field + ":", 0) == 0)
            return std::stoull(line.substr(field.size() + 1)) * 1024;
    }
    return 0;
}

void PutLe(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A 44.1 kHz stereo 16-bit WAV of `frames` frames of silence, written as a
// header and a hole.
bool WriteSparseWav(const std::string& path, std::uint64_t frames) {
    const std::uint64_t dataBytes = frames * 4;
    std::string header = "RIFF";
    PutLe(header, 36 + dataBytes, 4);
    header += "WAVEfmt ";
    PutLe(header, 16, 4);
    PutLe(header, 1, 2);
    PutLe(header, 2, 2);
    PutLe(header, 44100, 4);
    PutLe(header, 44100 * 4, 4);
    PutLe(header, 4, 2);
    PutLe(header, 16, 2);
    header += "data";
    PutLe(header, dataBytes, 4);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    const bool ok =
        ::write(fd, header.data(), header.size()) == static_cast<ssize_t>(header.size()) &&
        ::ftruncate(fd, static_cast<off_t>(header.size() + dataBytes)) == 0;
    ::close(fd);
    return ok;
}

void BM_LongCapturePeakMemory(benchmark::State& state) {
    const auto minutes = static_cast<std::uint64_t>(state.range(0));
    const std::string path = std::string(VURMA_BENCH_DIR) + "/long_capture.wav";
    if (!WriteSparseWav(path, 44100 * 60 * minutes)) {
        state.SkipWithError("cannot write the WAV file");
        return;
    }
    for (auto _ : state) {
        // Each run measures its own peak: 5 resets the high-water mark.
        std::ofstream("/proc/self/clear_refs") << "5";
        const std::uint64_t baseline = StatusBytes("VmHWM");
        vurma::media::MediaSession session(vurma::media::CreateGstEngine());
        session.SetUnsynchronised(true);
        vurma::media::LoadedMedia media;
        if (vurma::media::Failed(session.CreateGraph()) ||
            vurma::media::Failed(session.LoadMediaFile(path, &media)) ||
            session.callback() == nullptr) {
            state.SkipWithError("the file did not load");
            break;
        }
        vurma::media::CGrabberCallback* cb = session.callback();
        // The sample arrays as the window allocates them.
        auto* samples = static_cast<double*>(std::calloc(media.frameCount, sizeof(double)));
        auto* windowed = static_cast<double*>(std::calloc(media.frameCount, sizeof(double)));
        const auto start = std::chrono::steady_clock::now();
        session.RunGraph();
        bool done = false;
        while (!done && std::chrono::steady_clock::now() - start < std::chrono::minutes(20)) {
            long code = 0;
            while (!done && session.GetEvent(&code)) {
                done = code == vurma::media::EC_COMPLETE || code == vurma::media::EC_ERRORABORT;
            }
            if (!done) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        cb->m_bCapture.store(0, std::memory_order_release);
        session.StopGraph();
        const vurma::PcmView pcm{cb->m_pData, cb->m_nDataLen.load(std::memory_order_acquire),
                                 media.channels, media.bitsPerSample};
        const std::uint32_t frames = vurma::CompleteFrames(pcm);
        vurma::ConvertSamples(pcm, 0, frames, samples, windowed, 0);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

        const std::uint64_t peak = StatusBytes("VmHWM");
        const double theory = static_cast<double>(media.byteCount) +
                              2.0 * sizeof(double) * static_cast<double>(media.frameCount);
        state.counters["frames_captured"] = frames;
        state.counters["capture_s"] = seconds;
        state.counters["baseline_MB"] = baseline / 1e6;
        state.counters["peak_MB"] = peak / 1e6;
        state.counters["theory_MB"] = theory / 1e6;
        state.counters["peak_over_theory"] = peak / theory;
        state.counters["added_over_theory"] = (peak - baseline) / theory;
        std::printf(
            "%llu min: captured %u of %u frames in %.1f s; peak resident %.1f MB (%.1f MB before "
            "the load) against CaptureBlock %.1f MB + sample arrays 2 x %.1f MB = %.1f MB: "
            "%.3f of it\n",
            static_cast<unsigned long long>(minutes), frames, media.frameCount, seconds, peak / 1e6,
            baseline / 1e6, media.byteCount / 1e6,
            sizeof(double) * static_cast<double>(media.frameCount) / 1e6, theory / 1e6,
            peak / theory);
        std::free(windowed);
        std::free(samples);
    }
    std::remove(path.c_str());
}

// 10 minutes for a quick look (--benchmark_filter=/10), 60 for the figure.
BENCHMARK(BM_LongCapturePeakMemory)->Arg(10)->Arg(60)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
