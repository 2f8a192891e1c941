// Peak resident memory (VmHWM) of the window that opens a long 44.1 kHz
// stereo 16-bit file, captures it whole, searches it, browses it with the
// time slider and saves its CSV, next to the PCM size of the recording and
// the target: at most 1.3 x PCM + 100 MB. Runs offscreen on GStreamer.
//
// Argument: the length in minutes. The WAV is written sparse (digital
// silence) next to this executable and removed afterwards.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include <QApplication>
#include <QComboBox>
#include <QSlider>

#include "analysis/report_error.h"
#include "dialog_probe.h"
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
        const auto start = std::chrono::steady_clock::now();
        auto dlg = std::make_unique<vurma::app::test::TestDialog>(vurma::media::CreateGstEngine());
        dlg->OnMute();
        dlg->OpenMediaFile(QString::fromStdString(path));
        while (dlg->m_nPlayState != 0 && !dlg->m_bLoaded &&
               std::chrono::steady_clock::now() - start < std::chrono::minutes(20)) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        }
        if (!dlg->m_bLoaded || dlg->model()->block() == nullptr) {
            state.SkipWithError("the file was not captured");
            break;
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // Browse: pause, search, slider steps across the file at every frame
        // size and the widest time scale, then Save As.
        dlg->OnPause();
        dlg->OnSearch();
        dlg->m_cbTimeScale->setCurrentIndex(dlg->m_cbTimeScale->count() - 1);
        dlg->OnSelChangeTimeScale();
        for (int i = 0; i <= 100; ++i)
            dlg->SetSliderPos(
                dlg->m_sliderTime,
                static_cast<int>(static_cast<long long>(dlg->m_nSamples - 4096) * i / 100));
        const std::string csv = std::string(VURMA_BENCH_DIR) + "/long_capture.csv";
        dlg->m_chooseSaveFile = [&](const QString&) { return QString::fromStdString(csv); };
        dlg->ExportCsv();
        std::remove(csv.c_str());

        const std::uint64_t peak = StatusBytes("VmHWM");
        const double pcm = static_cast<double>(dlg->model()->block()->m_nDataLen.load());
        const double limit = 1.3 * pcm + 100e6;
        state.counters["capture_s"] = seconds;
        state.counters["peak_MB"] = peak / 1e6;
        state.counters["pcm_MB"] = pcm / 1e6;
        state.counters["peak_over_pcm"] = peak / pcm;
        std::printf(
            "%llu min: captured %d frames in %.1f s; peak resident %.1f MB (%.1f MB before the "
            "window) against PCM %.1f MB: %.3f x PCM; target 1.3 x PCM + 100 MB = %.1f MB "
            "(peak is %.2f of it)\n",
            static_cast<unsigned long long>(minutes), dlg->m_nSamples, seconds, peak / 1e6,
            baseline / 1e6, pcm / 1e6, peak / pcm, limit / 1e6, peak / limit);
        dlg.reset();
    }
    std::remove(path.c_str());
}

// 10 minutes for a quick look (--benchmark_filter=/10), 60 for the figure.
BENCHMARK(BM_LongCapturePeakMemory)->Arg(10)->Arg(60)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    vurma::SetReportSink(
        [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
