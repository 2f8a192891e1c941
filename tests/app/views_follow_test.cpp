// The main window and the spectrogram window observe one recording model:
// driven through a scripted decode, both follow its progress, its end, the
// release when a new file opens and the close while columns are computed,
// and the spectrogram sets the shared frame start the main window follows.
#include <QSignalSpy>
#include <QTest>

#include "app_test_util.h"
#include "widgets.h"

namespace vurma::app::test {
namespace {

class ViewsFollowTest : public DialogTest {
  protected:
    double Shaded(TestDialog& d) { return static_cast<TimeSlider*>(d.m_sliderTime)->captured(); }
};

TEST_F(ViewsFollowTest, BothViewsFollowProgressEndAndReleaseOfTheModel) {
    TestDialog& d = MakeDialog();
    d.show();
    d.OnViewSpectrogram();
    SpectrogramWindow& s = *d.spectrogram();
    RecordingModel& model = *d.model();
    QSignalSpy progress(&model, &RecordingModel::progress);

    // 2 s announced, a quarter fed: both show a capture under way.
    const std::string first = AddFile("first.wav", {.duration = 20000000});
    OpenAndFeed(first, 22050);
    ASSERT_EQ(model.stage(), RecordingModel::Stage::Capturing);
    ASSERT_TRUE(progress.wait(1000));
    EXPECT_NEAR(Shaded(d), 0.25, 0.01);
    EXPECT_EQ(s.windowTitle(), QStringLiteral("スペクトログラム - [first.wav]"));
    EXPECT_TRUE(s.m_actSave->isEnabled());
    EXPECT_FALSE(d.m_actSaveAs->isEnabled());

    // The end: the main window browses the capture, the shading goes.
    ASSERT_TRUE(engine->FeedSample(0.5, Pcm16(66150, 2, 8000)));
    EndCapture();
    EXPECT_EQ(model.stage(), RecordingModel::Stage::Captured);
    EXPECT_EQ(d.m_bLoaded, 1);
    EXPECT_EQ(d.m_nSamples, 88200);
    EXPECT_LT(Shaded(d), 0.0);
    EXPECT_TRUE(s.m_actSave->isEnabled());

    // A click in the spectrogram sets the shared frame start; the main
    // window's slider and analysis follow.
    QTest::qWait(300);
    const QRect plot = s.PlotRect();
    QTest::mouseClick(s.plot(), Qt::LeftButton, {}, QPoint(plot.center().x(), plot.center().y()));
    EXPECT_NEAR(d.m_sliderTime->value(), 44100, 88200 / plot.width() + 1);
    EXPECT_EQ(d.viewState()->frameStart(), d.m_sliderTime->value());
    EXPECT_EQ(d.m_nStartSample, d.m_sliderTime->value());

    // A new file releases the recording: at that moment the spectrogram
    // computes nothing and the bytes are still there to stop reading.
    bool stoppedInTime = false;
    QObject::connect(&model, &RecordingModel::releasing, &s,
                     [&] { stoppedInTime = !s.Computing() && model.Pcm().data != nullptr; });
    OpenAndFeed(AddFile("second.wav"), 0);
    EXPECT_TRUE(stoppedInTime);
    EXPECT_EQ(d.viewState()->frameStart(), 0);
    EXPECT_EQ(d.m_bLoaded, 0);
    QTest::qWait(250);
    EXPECT_EQ(s.windowTitle(), QStringLiteral("スペクトログラム - [second.wav]"));
}

TEST_F(ViewsFollowTest, ClosingTheMainWindowWhileColumnsAreComputedStopsThemFirst) {
    TestDialog& d = MakeDialog();
    d.show();
    OpenAndFeed(AddFile("long.wav", {.duration = 600000000}), 44100 * 60);  // a minute
    EndCapture();
    d.OnViewSpectrogram();
    SpectrogramWindow& s = *d.spectrogram();
    QCoreApplication::processEvents();
    ASSERT_TRUE(s.Computing());  // a minute of columns takes a while
    bool stoppedInTime = false;
    QObject::connect(d.model(), &RecordingModel::releasing, &s,
                     [&] { stoppedInTime = !s.Computing(); });
    d.close();
    EXPECT_TRUE(stoppedInTime);
    EXPECT_EQ(d.model()->stage(), RecordingModel::Stage::Empty);
    EXPECT_FALSE(s.Computing());
    dlg.reset();  // the spectrogram goes with its owner
}

}  // namespace
}  // namespace vurma::app::test
