// Playback, capture and the transport buttons against the scripted engine.
#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

#include "app_test_util.h"
#include "media/grabber_callback.h"
#include "media/media_session.h"
#include "widgets.h"

namespace vurma::app::test {
namespace {

using media::FakeFile;

class TransportTest : public DialogTest {
  protected:
    CAnalyzerDlg& Open(int frames = 0, FakeFile file = {}) {
        CAnalyzerDlg& d = MakeDialog();
        path = AddFile("music.wav", file);
        OpenAndFeed(path, frames);
        return d;
    }
    std::string path;
};

TEST_F(TransportTest, OpenPlaysAndCapturesTheLiveFrame) {
    CAnalyzerDlg& d = Open();
    EXPECT_EQ(d.m_nPlayState, 3);
    EXPECT_EQ(d.m_bLoaded, 0);
    EXPECT_EQ(d.m_session->graphState(), 2);
    ASSERT_NE(d.m_pCallBack, nullptr);
    EXPECT_EQ(d.m_nCapacity, 132344u);  // 3.001 s at 44100 Hz
    EXPECT_EQ(d.m_nChannels, 2);
    EXPECT_FALSE(d.m_actSaveAs->isEnabled());
    EXPECT_TRUE(d.m_timer->isActive());

    // Frames 0..4095 hold 0.5, frames 4096..8191 hold -0.25.
    ASSERT_TRUE(engine->FeedSample(0.0, Pcm16(4096, 2, 16384)));
    ASSERT_TRUE(engine->FeedSample(4096.0 / 44100, Pcm16(4096, 2, -8192)));
    engine->graph()->position = 0;
    d.OnTimer();
    EXPECT_EQ(d.m_nSamples, 2048);
    EXPECT_EQ(d.m_nStartSample, 0);
    EXPECT_DOUBLE_EQ(d.m_pSamples[0], 16384.0 / 32767);
    EXPECT_DOUBLE_EQ(d.m_pSamples[2047], 16384.0 / 32767);

    // At t = 0.1 s the frame starts at capture frame 4410: all -0.25.
    engine->graph()->position = 1000000;
    d.OnTimer();
    EXPECT_EQ(d.m_sliderTime->value(), static_cast<int>(132344.0 * 1000000 / 30000000));
    EXPECT_DOUBLE_EQ(d.m_pSamples[0], -8192.0 / 32767);
    // Not captured that far yet: the newest complete frame is shown.
    ASSERT_TRUE(engine->FeedSample(8192.0 / 44100, Pcm16(1024, 2, 32767)));
    engine->graph()->position = 20000000;
    d.OnTimer();
    EXPECT_DOUBLE_EQ(d.m_pSamples[0], -8192.0 / 32767);
    EXPECT_DOUBLE_EQ(d.m_pSamples[1023], -8192.0 / 32767);
    EXPECT_DOUBLE_EQ(d.m_pSamples[1024], 1.0);
    EXPECT_DOUBLE_EQ(d.m_pSamples[2047], 1.0);
}

TEST_F(TransportTest, EndOfMediaFinishesTheCaptureOnce) {
    CAnalyzerDlg& d = Open(44100);
    d.m_sliderTime->setValue(300);
    Complete();
    EXPECT_EQ(d.m_nPlayState, 1);
    EXPECT_EQ(d.m_bLoaded, 1);
    EXPECT_EQ(d.m_bCaptureComplete, 1);
    EXPECT_EQ(d.m_nSamples, 44100);
    EXPECT_EQ(d.m_sliderTime->value(), 0);
    EXPECT_TRUE(d.m_actSaveAs->isEnabled());
    EXPECT_FALSE(d.m_timer->isActive());
    EXPECT_EQ(d.m_pCallBack->m_bCapture.load(), 0);
    EXPECT_EQ(d.m_session->graphState(), 1);  // cued on the first frame
    EXPECT_FALSE(d.m_stPeak->text().isEmpty());
    EXPECT_TRUE(reports.empty());

    // Play again, move on, and the second end only rewinds.
    d.OnPlay();
    EXPECT_EQ(d.m_nPlayState, 3);
    EXPECT_EQ(d.m_bLoaded, 1);
    d.m_sliderTime->setValue(1000);
    d.m_pSamples[0] = 0.75;
    Complete();
    EXPECT_EQ(d.m_nPlayState, 1);
    EXPECT_EQ(d.m_sliderTime->value(), 0);
    EXPECT_EQ(d.m_nSamples, 44100);
    EXPECT_DOUBLE_EQ(d.m_pSamples[0], 0.75);
}

TEST_F(TransportTest, RewindMidCaptureKeepsThePartialCapture) {
    CAnalyzerDlg& d = Open(10000);
    QWidget* graphBefore = nullptr;
    (void)graphBefore;
    d.OnRewind();
    EXPECT_EQ(d.m_nPlayState, 1);
    EXPECT_EQ(d.m_bLoaded, 1);
    EXPECT_EQ(d.m_bCaptureComplete, 0);
    EXPECT_EQ(d.m_nSamples, 10000);
    EXPECT_TRUE(d.m_actSaveAs->isEnabled());
    EXPECT_EQ(d.m_session->graphState(), 1);

    // Play after moving the slider keeps the capture.
    d.m_sliderTime->setValue(500);
    const auto graph = engine->graph();
    d.OnPlay();
    EXPECT_EQ(d.m_nPlayState, 3);
    EXPECT_EQ(d.m_bLoaded, 1);
    EXPECT_EQ(d.m_nSamples, 10000);
    EXPECT_EQ(engine->graph(), graph);
}

TEST_F(TransportTest, PlayAtSliderZeroAfterAnIncompleteCaptureLoadsAgain) {
    CAnalyzerDlg& d = Open(10000);
    d.OnRewind();
    ASSERT_EQ(d.m_sliderTime->value(), 0);
    const auto graph = engine->graph();
    d.OnPlay();
    EXPECT_EQ(d.m_nPlayState, 3);
    EXPECT_EQ(d.m_bLoaded, 0);
    EXPECT_EQ(d.m_nSamples, 0);
    EXPECT_FALSE(d.m_actSaveAs->isEnabled());
    EXPECT_NE(engine->graph(), graph);
    EXPECT_EQ(engine->graph()->renderedPath, path);
}

TEST_F(TransportTest, AFailedReloadDoesNotClaimToPlay) {
    CAnalyzerDlg& d = Open(10000);
    d.OnRewind();
    engine->FailCall("Graph.RenderFile", media::E_FAIL);
    d.OnPlay();
    EXPECT_EQ(d.m_nPlayState, 0);
    EXPECT_FALSE(d.m_timer->isActive());
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Vurma"));
    EXPECT_FALSE(d.m_actSaveAs->isEnabled());
    d.OnPlay();
    EXPECT_EQ(d.m_nPlayState, 0);
}

TEST_F(TransportTest, PauseResumesAndDoesNothingWhenStopped) {
    CAnalyzerDlg& d = Open(44100);
    d.OnPause();
    EXPECT_EQ(d.m_nPlayState, 2);
    EXPECT_EQ(d.m_session->graphState(), 1);
    EXPECT_TRUE(d.m_timer->isActive());
    d.OnPause();
    EXPECT_EQ(d.m_nPlayState, 3);
    EXPECT_EQ(d.m_session->graphState(), 2);
    Complete();
    engine->ClearCalls();
    d.OnPause();
    EXPECT_EQ(d.m_nPlayState, 1);
    EXPECT_TRUE(engine->calls().empty());
}

TEST_F(TransportTest, SliderSeeksOnlyWhenLoadedAndNotPlaying) {
    CAnalyzerDlg& d = Open(44100);
    engine->graph()->position = 0;
    d.m_sliderTime->setValue(100);  // capturing: neither start sample nor seek
    EXPECT_EQ(engine->graph()->position, 0);
    EXPECT_EQ(d.m_nStartSample, 0);
    Complete();
    d.m_sliderTime->setValue(22050);  // stopped: seeks to (end - start) * s / n
    EXPECT_EQ(d.m_nStartSample, 22050);
    EXPECT_EQ(engine->graph()->position, 15000000);
    d.OnPlay();
    engine->graph()->position = 0;
    d.m_sliderTime->setValue(11025);  // playing: no seek
    EXPECT_EQ(engine->graph()->position, 0);
    EXPECT_EQ(d.m_nStartSample, 11025);
}

TEST_F(TransportTest, SearchMovesToTheLoudestSampleUnlessPlaying) {
    CAnalyzerDlg& d = Open(1000);
    ASSERT_TRUE(engine->FeedSample(1000.0 / 44100, Pcm16(1, 2, -30000)));
    ASSERT_TRUE(engine->FeedSample(1001.0 / 44100, Pcm16(2000, 2, 100)));
    d.OnSearch();  // playing
    EXPECT_EQ(d.m_sliderTime->value(), 0);
    Complete();
    d.OnSearch();
    EXPECT_EQ(d.m_sliderTime->value(), 1000);
    EXPECT_EQ(d.m_nStartSample, 1000);
}

TEST_F(TransportTest, VolumeFollowsTheSlider) {
    CAnalyzerDlg& d = Open();
    d.m_sliderVolume->setValue(0);
    EXPECT_EQ(engine->graph()->volume, -10000);
    d.m_sliderVolume->setValue(100);
    EXPECT_EQ(engine->graph()->volume, 0);
    d.m_sliderVolume->setValue(94);
    EXPECT_EQ(engine->graph()->volume, -600);
}

TEST_F(TransportTest, MuteHoldsAcrossSliderMovesAndLoads) {
    CAnalyzerDlg& d = Open();
    d.m_sliderVolume->setValue(50);
    d.OnMute();
    EXPECT_TRUE(d.m_btnMute->isChecked());
    EXPECT_EQ(engine->graph()->volume, -10000);
    d.m_sliderVolume->setValue(80);  // muted: nothing audible changes
    EXPECT_EQ(engine->graph()->volume, -10000);
    d.OpenMediaFile(QString::fromStdString(AddFile("next.wav")));
    ASSERT_EQ(d.m_nPlayState, 3);
    EXPECT_EQ(engine->graph()->volume, -10000);
    d.OnMute();  // back to the slider's level
    EXPECT_FALSE(d.m_btnMute->isChecked());
    EXPECT_EQ(engine->graph()->volume, -2000);
}

TEST_F(TransportTest, TooShortACaptureIsRefused) {
    CAnalyzerDlg& d = Open(511);
    Complete();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "ﾃﾞｰﾀのｻﾝﾌﾟﾙ数が極端に少ないので計算できません。  ");
    EXPECT_EQ(d.m_cbSampleCount->currentIndex(), 0);
    EXPECT_FALSE(d.m_actSaveAs->isEnabled());
    EXPECT_EQ(d.m_nSamples, 511);
    EXPECT_EQ(d.m_nPlayState, 1);
    EXPECT_TRUE(d.m_stPeak->text().isEmpty());
}

TEST_F(TransportTest, ACaptureShorterThanTheFrameStepsTheSizeDownOnce) {
    CAnalyzerDlg& d = Open(1000);
    d.m_cbSampleCount->setCurrentIndex(3);
    Complete();
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(d.m_cbSampleCount->currentIndex(), 2);
    EXPECT_EQ(d.m_nSampleCountSel, 2048);
    EXPECT_TRUE(d.m_actSaveAs->isEnabled());
}

TEST_F(TransportTest, AFileShorterThanTheFrameGetsNoLiveFrame) {
    FakeFile shortFile;
    shortFile.duration = 200000;  // 0.02 s: 882 frames
    CAnalyzerDlg& d = Open(882, shortFile);
    engine->graph()->position = 0;
    d.OnTimer();
    EXPECT_EQ(d.m_nSamples, 0);
    Complete();
    EXPECT_EQ(d.m_nSamples, 882);
    EXPECT_EQ(d.m_cbSampleCount->currentIndex(), 1);
}

TEST_F(TransportTest, FailingEngineCallsReportTheirTexts) {
    CAnalyzerDlg& d = Open(44100);
    engine->FailCall("Graph.GetState", media::E_FAIL);
    engine->FailCall("Graph.SetPositions", media::E_FAIL, 0, 1);
    engine->FailCall("Graph.StopWhenReady", media::E_FAIL);
    d.OnRewind();
    EXPECT_NE(
        std::find(reports.begin(), reports.end(), "Failed to read graph state!  hr=0x80004005\r\n"),
        reports.end());
    EXPECT_NE(std::find(reports.begin(), reports.end(),
                        "Failed to seek to beginning of media!  hr=0x80004005\r\n"),
              reports.end());
    EXPECT_NE(
        std::find(reports.begin(), reports.end(), "Failed in StopWhenReady!  hr=0x80004005\r\n"),
        reports.end());
    EXPECT_EQ(d.m_nPlayState, 1);  // each step ran anyway
    EXPECT_EQ(d.m_bLoaded, 1);
    reports.clear();
    engine->ClearFailures();
    engine->FailCall("Graph.Run", media::E_FAIL);
    d.m_sliderTime->setValue(10);
    d.OnPlay();
    EXPECT_NE(std::find(reports.begin(), reports.end(), "\r\n*** Failed(80004005) in Run()!\r\n"),
              reports.end());
}

TEST_F(TransportTest, VideoPicturesReachThePanel) {
    FakeFile video;
    video.hasVideo = true;
    CAnalyzerDlg& d = Open(0, video);
    d.show();
    EXPECT_FALSE(d.m_stNoVideo->isVisible());
    media::VideoFrame frame;
    frame.width = 4;
    frame.height = 2;
    frame.stride = 16;
    frame.bytes.assign(32, 0);
    frame.bytes[0] = 255;  // first pixel red (RGBx)
    engine->graph()->PostFrame(frame);
    QCoreApplication::processEvents();
    ASSERT_EQ(d.m_stVideo->picture().size(), QSize(4, 2));
    EXPECT_EQ(d.m_stVideo->picture().pixel(0, 0), qRgb(255, 0, 0));

    // An audio-only file shows the no-video label and drops the old picture.
    d.OpenMediaFile(QString::fromStdString(AddFile("audio.wav")));
    EXPECT_TRUE(d.m_stNoVideo->isVisible());
    EXPECT_TRUE(d.m_stVideo->picture().isNull());
}

}  // namespace
}  // namespace vurma::app::test
