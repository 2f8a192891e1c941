// Speed of the window. First, from process start to the first painted window
// (target < 150 ms), measured on fresh processes of this program that start up
// as vurma does, GStreamer engine made after the paint; next to it, a bare Qt
// window's process start to first paint in the same run. Then, against the
// scripted engine: a new window's first paint, one full redraw, one playback
// tick while capturing at N = 4096, one slider step afterwards. Offscreen.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QSlider>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "analysis/report_error.h"
#include "analyzer_app.h"
#include "app_strings.h"
#include "dialog_probe.h"
#include "fake_engine.h"
#include "media/media_session.h"

extern char** environ;

namespace {

using CAnalyzerDlg = vurma::app::test::TestDialog;

constexpr double kTargetMs = 150;
constexpr int kColdRuns = 7;

std::int64_t MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

// Shows a new dialog and waits until its window has been painted once.
class PaintWatch : public QObject {
  public:
    bool painted = false;
    std::int64_t paintedAt = 0;  // MonotonicNs() of the first paint

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !painted) {
            painted = true;
            paintedAt = MonotonicNs();
        }
        return QObject::eventFilter(watched, event);
    }
};

std::unique_ptr<CAnalyzerDlg> ShowAndPaint(std::shared_ptr<vurma::media::FakeEngine> engine) {
    auto dlg = std::make_unique<CAnalyzerDlg>(engine);
    PaintWatch watch;
    dlg->installEventFilter(&watch);
    dlg->show();
    while (!watch.painted) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    dlg->removeEventFilter(&watch);
    return dlg;
}

std::string FakeFilePath(vurma::media::FakeEngine& engine) {
    const QString path = QDir::temp().filePath(QStringLiteral("vurma_bench.wav"));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.close();
    vurma::media::FakeFile file;
    file.duration = 100000000;  // 10 s
    engine.AddFile(path.toStdString(), file);
    return path.toStdString();
}

// 10 s of stereo 16-bit noise.
std::vector<std::uint8_t> Noise(int frames) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(frames) * 4);
    std::uint32_t x = 12345;
    for (auto& b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return bytes;
}

void BM_StartupToFirstPaint(benchmark::State& state) {
    for (auto _ : state) {
        auto dlg = ShowAndPaint(std::make_shared<vurma::media::FakeEngine>());
        state.PauseTiming();
        dlg.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StartupToFirstPaint)->Unit(benchmark::kMillisecond);

void BM_RedrawAll(benchmark::State& state) {
    auto dlg = ShowAndPaint(std::make_shared<vurma::media::FakeEngine>());
    for (auto _ : state) dlg->RedrawAll();
}
BENCHMARK(BM_RedrawAll)->Unit(benchmark::kMicrosecond);

void BM_CaptureTickN4096(benchmark::State& state) {
    auto engine = std::make_shared<vurma::media::FakeEngine>();
    auto dlg = ShowAndPaint(engine);
    dlg->OpenMediaFile(QString::fromStdString(FakeFilePath(*engine)));
    engine->FeedSample(0.0, Noise(441000));
    dlg->m_cbSampleCount->setCurrentIndex(3);
    std::int64_t t = 0;
    for (auto _ : state) {
        t = (t + 900000) % 90000000;
        engine->graph()->position = t;
        dlg->OnTimer();
    }
}
BENCHMARK(BM_CaptureTickN4096)->Unit(benchmark::kMicrosecond);

void BM_SliderStepAfterCapture(benchmark::State& state) {
    auto engine = std::make_shared<vurma::media::FakeEngine>();
    auto dlg = ShowAndPaint(engine);
    dlg->OpenMediaFile(QString::fromStdString(FakeFilePath(*engine)));
    engine->FeedSample(0.0, Noise(441000));
    engine->PostComplete();
    QCoreApplication::processEvents();
    int pos = 0;
    for (auto _ : state) {
        pos = (pos + 1000) % 400000;
        dlg->m_sliderTime->setValue(pos);
    }
}
BENCHMARK(BM_SliderStepAfterCapture)->Unit(benchmark::kMicrosecond);

// Child process: starts up as the program does (the window, then the
// GStreamer engine after the first paint) or, with `bare`, shows an empty Qt
// window; prints the monotonic times of the first paint and of the engine.
int RunChild(int argc, char** argv, bool bare) {
    QApplication app(argc, argv);
    PaintWatch watch;
    std::int64_t engineAt = 0;
    std::unique_ptr<QWidget> window;
    if (bare) {
        window = std::make_unique<QWidget>();
        window->resize(500, 540);
        window->installEventFilter(&watch);
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (watch.painted) app.quit();
        });
        poll.start(1);
        window->show();
        app.exec();
    } else {
        QFont font(QStringLiteral("IPAGothic"));
        font.setPixelSize(12);
        QApplication::setFont(font);
        QApplication::setApplicationName(QString::fromLatin1(vurma::app::kStrCaption));
        vurma::SetReportSink([](const std::string&) {});
        auto dlg = std::make_unique<CAnalyzerDlg>(CAnalyzerDlg::DeferEngine{});
        dlg->installEventFilter(&watch);
        vurma::app::AttachEngineAfterFirstPaint(dlg.get(), vurma::media::CreateGstEngine, [&] {
            engineAt = MonotonicNs();
            app.quit();
        });
        dlg->show();
        app.exec();
    }
    std::printf("%lld %lld\n", static_cast<long long>(watch.paintedAt),
                static_cast<long long>(engineAt));
    return 0;
}

struct ColdStart {
    double paintMs = -1;   // process start to first paint
    double engineMs = -1;  // process start to the engine attached (0: none)
};

// Starts this program as a child with `mode` and reads its times.
ColdStart SpawnChild(const char* self, const char* mode) {
    ColdStart result;
    int fds[2];
    if (pipe(fds) != 0) return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    char* args[] = {const_cast<char*>(self), const_cast<char*>(mode), nullptr};
    pid_t pid = 0;
    const std::int64_t start = MonotonicNs();
    const int rc = posix_spawn(&pid, self, &actions, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return result;
    }
    std::string out;
    char buf[256];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    long long painted = 0, engine = 0;
    if (std::sscanf(out.c_str(), "%lld %lld", &painted, &engine) == 2 && painted > 0) {
        result.paintMs = (painted - start) / 1e6;
        result.engineMs = engine > 0 ? (engine - start) / 1e6 : 0;
    }
    return result;
}

double Median(std::vector<double> v) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc > 1 && std::strcmp(argv[1], "--child-window") == 0) return RunChild(1, argv, false);
    if (argc > 1 && std::strcmp(argv[1], "--child-bare") == 0) return RunChild(1, argv, true);

    // Fresh processes, the two kinds alternating so that both see the same load.
    std::vector<double> ours, bare, engine;
    for (int i = 0; i < kColdRuns; ++i) {
        const ColdStart w = SpawnChild("/proc/self/exe", "--child-window");
        const ColdStart b = SpawnChild("/proc/self/exe", "--child-bare");
        if (w.paintMs >= 0) ours.push_back(w.paintMs), engine.push_back(w.engineMs);
        if (b.paintMs >= 0) bare.push_back(b.paintMs);
    }

    QApplication app(argc, argv);
    QFont font(QStringLiteral("IPAGothic"));
    font.setPixelSize(12);
    QApplication::setFont(font);
    vurma::SetReportSink([](const std::string&) {});
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const double oursMs = Median(ours), bareMs = Median(bare);
    std::printf(
        "\nProcess start to first painted window (median of %d): %.1f ms "
        "(target < %.0f ms)\n",
        kColdRuns, oursMs, kTargetMs);
    std::printf(
        "  anchor, a bare Qt window's process to first paint: %.1f ms (ours / bare = "
        "%.2fx)\n",
        bareMs, bareMs > 0 ? oursMs / bareMs : 0.0);
    std::printf("  GStreamer engine ready, after the paint: %.1f ms from process start\n",
                Median(engine));
    return 0;
}
