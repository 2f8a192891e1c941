// The spectrum window on a recording of the scripted engine: it computes the
// span's spectrum on the pool to the same numbers as the command line, lists
// the peaks with their notes, follows the shared selection, says when the
// span is too short, writes its CSV and lets go of a recording being released.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <cmath>
#include <numbers>

#include "analysis/span_spectrum.h"
#include "export/spectrum_csv.h"
#include "fake_engine.h"
#include "media/grabber_callback.h"
#include "media/media_session.h"
#include "recording_model.h"
#include "span_spectrum_window.h"
#include "spectrogram_window.h"
#include "test_gui.h"
#include "test_media.h"
#include "test_support.h"
#include "view_state.h"

namespace vurma::app {
namespace {

constexpr int kRate = 44100;
constexpr int kFrames = 2 * kRate;

// One second of 440 Hz on both sides, then one of 1000 Hz on the left only.
std::vector<std::uint8_t> TwoTones() {
    std::vector<std::int32_t> samples;
    for (int i = 0; i < kFrames; ++i) {
        const double hz = i < kRate ? 440 : 1000;
        const auto v = static_cast<std::int32_t>(
            std::lround(16384 * std::sin(2 * std::numbers::pi * hz * i / kRate)));
        samples.push_back(v);
        samples.push_back(i < kRate ? v : 0);
    }
    return vurma::test::Pcm(16, samples);
}

class SpanSpectrumWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        vurma::test::EnsureApp();
        model.SetEngine(engine);
        block->AddRef();
        ASSERT_TRUE(block->SetCaptureBuffer(std::uint64_t(kFrames) * 4));
        block->m_bCapture.store(1);
        media::LoadedMedia loaded;
        loaded.channels = 2;
        loaded.bitsPerSample = 16;
        loaded.sampleRate = kRate;
        loaded.frameCount = kFrames;
        loaded.endFrame = 20000000;
        model.BeginLoading(QStringLiteral("two tones.wav"));
        model.StartCapture(loaded, block);
        ASSERT_TRUE(engine->FeedSample(0.0, TwoTones()));
        ASSERT_TRUE(engine->EndCapture());
        QCoreApplication::processEvents();
        ASSERT_EQ(model.stage(), RecordingModel::Stage::Captured);
    }
    void TearDown() override {
        model.Release();
        block->Release();
    }
    bool Finished(SpanSpectrumWindow& w) {
        return QTest::qWaitFor([&] { return !w.Computing(); }, 20000);
    }

    std::shared_ptr<media::FakeEngine> engine = std::make_shared<media::FakeEngine>();
    RecordingModel model;
    ViewState state;
    media::CGrabberCallback* block = new media::CGrabberCallback();
};

TEST_F(SpanSpectrumWindowTest, WholeFileThenSelectionSameNumbersAsTheCommandLine) {
    SpanSpectrumWindow w(&model, &state, nullptr);
    w.show();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("スペクトル - [two tones.wav]"));
    ASSERT_TRUE(Finished(w));
    ASSERT_EQ(w.spectrum().curves.size(), 1u);

    // The same numbers as the command line's for the same PCM and settings.
    SpanSpectrumSettings settings;  // the window's defaults: 8192, Hann, mix
    const SpanSpectrum expected =
        ComputeSpanSpectrum(model.Pcm(), kRate, 0, kFrames, settings, nullptr);
    EXPECT_EQ(w.spectrum().curves[0].averageDb, expected.curves[0].averageDb);
    EXPECT_EQ(w.spectrum().curves[0].maxDb, expected.curves[0].maxDb);
    ASSERT_GE(w.peaks().size(), 2u);
    EXPECT_NEAR(w.peaks()[0].hz, 440, 0.5);
    EXPECT_TRUE(w.m_peakList->item(0)->text().endsWith(QStringLiteral("A4 +0")))
        << w.m_peakList->item(0)->text().toStdString();

    vurma::test::ScratchDir dir("span-window");
    ASSERT_TRUE(w.SaveCsv(QString::fromStdString(dir / "out.csv")));
    EXPECT_EQ(vurma::test::ReadFile(dir / "out.csv"), BuildSpectrumCsv(expected));

    // The second second only: the left-only tone.
    state.setSelection({kRate, kFrames});
    ASSERT_TRUE(Finished(w));
    ASSERT_FALSE(w.peaks().empty());
    EXPECT_NEAR(w.peaks()[0].hz, 1000, 0.5);
    const SpanSpectrum second =
        ComputeSpanSpectrum(model.Pcm(), kRate, kRate, kRate, settings, nullptr);
    EXPECT_EQ(w.spectrum().curves[0].averageDb, second.curves[0].averageDb);

    // Left and right: the right shows no 1000 Hz.
    w.m_chkChannel[1]->setChecked(true);
    w.m_chkChannel[2]->setChecked(true);
    ASSERT_TRUE(Finished(w));
    ASSERT_EQ(w.spectrum().curves.size(), 3u);
    const int bin = static_cast<int>(std::lround(1000 / w.spectrum().HzPerBin()));
    EXPECT_GT(w.spectrum().curves[1].averageDb[bin], -20);
    EXPECT_LT(w.spectrum().curves[2].averageDb[bin], -150);
}

TEST_F(SpanSpectrumWindowTest, TheReadoutGivesTheKeptReferenceBesideTheSpan) {
    SpanSpectrumWindow w(&model, &state, nullptr);
    w.show();
    ASSERT_TRUE(Finished(w));
    w.m_btnReference->click();
    state.setSelection({kRate, kFrames});
    ASSERT_TRUE(Finished(w));
    const QPoint centre = w.m_plot->rect().center();
    QMouseEvent move(QEvent::MouseMove, QPointF(centre), w.m_plot->mapToGlobal(QPointF(centre)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w.m_plot, &move);
    const QString text = w.m_readout->text();
    EXPECT_TRUE(text.contains(QStringLiteral("参照 mix: "))) << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral(" dBFS"))) << text.toStdString();
}

TEST_F(SpanSpectrumWindowTest, TooShortASpanSaysSoAndAReleaseStopsTheWork) {
    SpanSpectrumWindow w(&model, &state, nullptr);
    w.show();
    state.setSelection({100, 5000});
    EXPECT_FALSE(w.Computing());
    EXPECT_TRUE(w.spectrum().curves.empty());
    EXPECT_TRUE(w.m_status->text().contains(QStringLiteral("8192")))
        << w.m_status->text().toStdString();
    EXPECT_FALSE(w.SaveCsv(QStringLiteral("/nonexistent/x.csv")));

    state.clearSelection();
    w.m_cbFft->setCurrentIndex(0);  // 512: many frames
    model.Release();                // while it computes
    EXPECT_FALSE(w.Computing());
    EXPECT_EQ(w.windowTitle(), QStringLiteral("スペクトル"));
}

// The span both windows show is chosen in the spectrogram: a right drag (or
// a left one with Shift) selects it, a right click clears it.
TEST_F(SpanSpectrumWindowTest, SpectrogramDragSelectsTheSpan) {
    SpectrogramWindow spectrogram(&model, &state, nullptr);
    spectrogram.show();
    QWidget* plot = spectrogram.plot();
    const QRect r = spectrogram.PlotRect();
    const QPoint from(r.left() + r.width() / 4, r.center().y());
    const QPoint to(r.left() + r.width() / 2, r.center().y());
    const auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButton button,
                          Qt::MouseButtons buttons, Qt::KeyboardModifiers keys) {
        QMouseEvent event(type, at, plot->mapToGlobal(at), button, buttons, keys);
        QCoreApplication::sendEvent(plot, &event);
    };
    for (const auto& [button, keys] :
         {std::pair{Qt::RightButton, Qt::KeyboardModifiers()},
          std::pair{Qt::LeftButton, Qt::KeyboardModifiers(Qt::ShiftModifier)}}) {
        state.clearSelection();
        const std::int64_t slider = state.frameStart();
        send(QEvent::MouseButtonPress, from, button, button, keys);
        send(QEvent::MouseMove, to, Qt::NoButton, button, keys);
        send(QEvent::MouseButtonRelease, to, button, Qt::NoButton, keys);
        const FrameSpan span = state.selection();
        EXPECT_NEAR(static_cast<double>(span.first), spectrogram.FrameAtX(from.x()), 1);
        EXPECT_NEAR(static_cast<double>(span.last), spectrogram.FrameAtX(to.x()), 1);
        EXPECT_EQ(state.frameStart(), slider);  // the analysis frame stays
    }
    send(QEvent::MouseButtonPress, to, Qt::RightButton, Qt::RightButton, {});
    send(QEvent::MouseButtonRelease, to, Qt::RightButton, Qt::NoButton, {});
    EXPECT_TRUE(state.selection().empty());
}

}  // namespace
}  // namespace vurma::app
