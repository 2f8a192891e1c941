// Playback, capture and the transport buttons against the scripted engine.
#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

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
    EXPECT_EQ(State(d), "play 3 graph 2 loaded 0 complete 0 samples 0 timer");
    ASSERT_NE(d.m_pCallBack, nullptr);
    EXPECT_EQ(d.m_nCapacity, 132344u);  // 3.001 s at 44100 Hz

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
    // Stopped and cued on the first frame, the capture off, the readout shown.
    EXPECT_EQ(State(d), "play 1 graph 1 loaded 1 complete 1 samples 44100 save");
    EXPECT_EQ(d.m_sliderTime->value(), 0);
    EXPECT_EQ(d.m_pCallBack->m_bCapture.load(), 0);
    EXPECT_FALSE(d.m_stPeak->text().isEmpty());
    EXPECT_TRUE(reports.empty());

    // Play again, move on, and the second end only rewinds.
    d.OnPlay();
    EXPECT_EQ(State(d), "play 3 graph 2 loaded 1 complete 1 samples 44100 save timer");
    d.m_sliderTime->setValue(1000);
    d.m_pSamples[0] = 0.75;
    Complete();
    EXPECT_EQ(State(d), "play 1 graph 1 loaded 1 complete 1 samples 44100 save");
    EXPECT_EQ(d.m_sliderTime->value(), 0);
    EXPECT_DOUBLE_EQ(d.m_pSamples[0], 0.75);
}

TEST_F(TransportTest, RewindMidCaptureKeepsThePartialCapture) {
    CAnalyzerDlg& d = Open(10000);
    d.OnRewind();
    EXPECT_EQ(State(d), "play 1 graph 1 loaded 1 complete 0 samples 10000 save");

    // Play after moving the slider keeps the capture.
    d.m_sliderTime->setValue(500);
    const auto graph = engine->graph();
    d.OnPlay();
    EXPECT_EQ(State(d), "play 3 graph 2 loaded 1 complete 0 samples 10000 save timer");
    EXPECT_EQ(engine->graph(), graph);
}

// A broken stream ends in an error, not the end of media: the window stops
// as Rewind does, keeps the capture so far and says what happened.
TEST_F(TransportTest, APlaybackErrorStopsLikeRewindWithAMessage) {
    CAnalyzerDlg& d = Open(10000);
    engine->PostEvent(media::EC_ERRORABORT);
    QCoreApplication::processEvents();
    EXPECT_EQ(State(d), "play 1 graph 1 loaded 1 complete 0 samples 10000 save");
    EXPECT_EQ(reports, std::vector<std::string>{"ﾌｧｲﾙの読み込み中にｴﾗｰが発生しました。  "});
}

TEST_F(TransportTest, PlayAtSliderZeroAfterAnIncompleteCaptureLoadsAgain) {
    CAnalyzerDlg& d = Open(10000);
    d.OnRewind();
    ASSERT_EQ(d.m_sliderTime->value(), 0);
    const auto graph = engine->graph();
    d.OnPlay();
    EXPECT_EQ(State(d), "play 3 graph 2 loaded 0 complete 0 samples 0 timer");
    EXPECT_NE(engine->graph(), graph);
    EXPECT_EQ(engine->graph()->renderedPath, path);
}

TEST_F(TransportTest, AFailedReloadDoesNotClaimToPlay) {
    CAnalyzerDlg& d = Open(10000);
    d.OnRewind();
    engine->FailCall("Graph.RenderFile", media::E_FAIL);
    d.OnPlay();
    EXPECT_EQ(State(d).substr(0, 6), "play 0");
    EXPECT_EQ(State(d).find("save"), std::string::npos);
    EXPECT_EQ(State(d).find("timer"), std::string::npos);
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Vurma"));
    d.OnPlay();
    EXPECT_EQ(d.m_nPlayState, 0);
}

TEST_F(TransportTest, PauseResumesAndDoesNothingWhenStopped) {
    CAnalyzerDlg& d = Open(44100);
    d.OnPause();
    EXPECT_EQ(State(d), "play 2 graph 1 loaded 0 complete 0 samples 0 timer");
    d.OnPause();
    EXPECT_EQ(State(d), "play 3 graph 2 loaded 0 complete 0 samples 0 timer");
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

// The level mapping is checked in the session; here the slider and the mute
// button drive it, and mute holds across slider moves and loads.
TEST_F(TransportTest, VolumeFollowsTheSliderUnlessMuted) {
    CAnalyzerDlg& d = Open();
    d.m_sliderVolume->setValue(0);
    EXPECT_EQ(engine->graph()->volume, -10000);
    d.m_sliderVolume->setValue(50);
    EXPECT_EQ(engine->graph()->volume, -5000);
    d.OnMute();
    EXPECT_TRUE(d.m_btnMute->isChecked());
    EXPECT_EQ(engine->graph()->volume, -10000);
    d.m_sliderVolume->setValue(100);  // muted: nothing audible changes
    EXPECT_EQ(engine->graph()->volume, -10000);
    d.OpenMediaFile(QString::fromStdString(AddFile("next.wav")));
    ASSERT_EQ(d.m_nPlayState, 3);
    EXPECT_EQ(engine->graph()->volume, -10000);
    d.OnMute();  // back to the slider's level
    EXPECT_FALSE(d.m_btnMute->isChecked());
    EXPECT_EQ(engine->graph()->volume, 0);
}

TEST_F(TransportTest, TooShortACaptureIsRefused) {
    CAnalyzerDlg& d = Open(511);
    Complete();
    EXPECT_EQ(reports,
              std::vector<std::string>{"ﾃﾞｰﾀのｻﾝﾌﾟﾙ数が極端に少ないので計算できません。  "});
    EXPECT_EQ(State(d), "play 1 graph 1 loaded 1 complete 1 samples 511");
    EXPECT_EQ(d.m_cbSampleCount->currentIndex(), 0);
    EXPECT_TRUE(d.m_stPeak->text().isEmpty());
}

TEST_F(TransportTest, ACaptureShorterThanTheFrameStepsTheSizeDownOnce) {
    CAnalyzerDlg& d = Open(1000);
    d.m_cbSampleCount->setCurrentIndex(3);
    Complete();
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(d.m_nSampleCountSel, 2048);
    EXPECT_FALSE(d.m_actSaveAs->isEnabled());  // 2048 still does not fit in 1000

    // A file shorter than the frame gets no live frame while it plays.
    FakeFile shortFile;
    shortFile.duration = 200000;  // 0.02 s: 882 frames
    CAnalyzerDlg& e = Open(882, shortFile);
    engine->graph()->position = 0;
    e.OnTimer();
    EXPECT_EQ(e.m_nSamples, 0);
    Complete();
    EXPECT_EQ(e.m_nSamples, 882);
    EXPECT_EQ(e.m_cbSampleCount->currentIndex(), 1);
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
