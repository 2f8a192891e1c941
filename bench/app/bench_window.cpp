// Speed of the window: start-up to the first painted frame, one full redraw,
// one playback tick while capturing at N = 4096, one slider step afterwards.
// Runs offscreen against the scripted engine.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSlider>
#include <cstdio>
#include <memory>

#include "analysis/report_error.h"
#include "analyzer_dlg.h"
#include "media/fake_engine.h"

namespace {

using vurma::app::CAnalyzerDlg;

// Shows a new dialog and waits until its window has been painted once.
class PaintWatch : public QObject {
  public:
    bool painted = false;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) painted = true;
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

}  // namespace

int main(int argc, char** argv) {
    QElapsedTimer cold;
    cold.start();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QFont font(QStringLiteral("IPAGothic"));
    font.setPixelSize(12);
    QApplication::setFont(font);
    vurma::SetReportSink([](const std::string&) {});
    {
        auto first = ShowAndPaint(std::make_shared<vurma::media::FakeEngine>());
        std::printf("Cold start-up to first painted window (process, Qt and window): %.1f ms\n",
                    cold.nsecsElapsed() / 1e6);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
