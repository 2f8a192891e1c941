// Playback, the capture beside it and the transport buttons against the
// scripted engine. The capture decode is fed and ended by the test.
#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <functional>

#include "analysis/sample_store.h"
#include "app_test_util.h"
#include "media/background.h"
#include "media/grabber_callback.h"
#include "media/media_session.h"
#include "widgets.h"

namespace vurma::app::test {
namespace {

using media::FakeFile;

class TransportTest : public DialogTest {
  protected:
    TestDialog& Open(int frames = 0, FakeFile file = {}) {
        TestDialog& d = MakeDialog();
        path = AddFile("music.wav", file);
        OpenAndFeed(path, frames);
        return d;
    }
    std::string path;
};

TEST_F(TransportTest, OpenPlaysAndCapturesAndTheLiveFrameIsAtThePlayingPosition) {
    TestDialog& d = Open();
    EXPECT_EQ(State(d), "play 3 graph 2 loaded 0 complete 0 samples 0 timer capturing");
    ASSERT_NE(d.m_model->block(), nullptr);
    EXPECT_EQ(d.m_nCapacity, 132344u);  // 3.001 s at 44100 Hz
    ASSERT_NE(engine->decode(), nullptr);
    EXPECT_EQ(engine->decode()->path, path);
    EXPECT_EQ(engine->decode()->format.channels, 2);
    // The played graph's grabber takes nothing into the capture.
    ASSERT_TRUE(engine->graph()->FeedSample(0.0, Pcm16(512, 2, 1), false, false));
    EXPECT_EQ(d.m_model->block()->m_nDataLen.load(), 0u);
    // Nothing captured yet: the live frame is silence.
    d.OnTimer();
    const double* silence = d.m_samples.Find(0, 2048);
    ASSERT_NE(silence, nullptr);
    EXPECT_TRUE(std::all_of(silence, silence + 2048, [](double x) { return x == 0.0; }));

    // Frames 0..4095 hold 0.5, frames 4096..8191 hold -0.25.
    ASSERT_TRUE(engine->FeedSample(0.0, Pcm16(4096, 2, 16384)));
    ASSERT_TRUE(engine->FeedSample(4096.0 / 44100, Pcm16(4096, 2, -8192)));
    const PcmView pcm{d.m_model->block()->m_pData, d.m_model->block()->m_nDataLen.load(), 2, 16};
    double expected[2048], unused[2048];
    for (const std::int64_t t : {0, 500000, 1000000}) {
        SCOPED_TRACE(t);
        engine->graph()->position = t;
        d.OnTimer();
        EXPECT_EQ(d.m_nSamples, 2048);
        EXPECT_EQ(d.m_nStartSample, 0);
        ASSERT_TRUE(ConvertSamples(pcm, FrameAtPosition(44100, t), 2048, expected, unused, 0));
        EXPECT_TRUE(std::equal(expected, expected + 2048, d.m_samples.Find(0, 2048)));
    }
    EXPECT_EQ(d.m_sliderTime->value(), static_cast<int>(132344.0 * 1000000 / 30000000));
    // Not captured that far yet: the previous frame stays.
    engine->graph()->position = 20000000;
    d.OnTimer();
    EXPECT_TRUE(std::equal(expected, expected + 2048, d.m_samples.Find(0, 2048)));
    EXPECT_GT(static_cast<TimeSlider*>(d.m_sliderTime)->captured(), -1.0);
}

// Without a capture to show, the time slider paints exactly as a plain one.
TEST_F(TransportTest, TheTimeSliderIsAPlainSliderPlusTheCapturedBand) {
    EnsureApp();
    TimeSlider shaded(nullptr);
    QSlider plain(Qt::Horizontal);
    for (QSlider* s : {static_cast<QSlider*>(&shaded), &plain}) {
        s->setGeometry(0, 0, 300, 30);
        s->setRange(0, 1000);
        s->setValue(200);
    }
    EXPECT_EQ(shaded.grab().toImage(), plain.grab().toImage());
    shaded.setCaptured(0.5);
    EXPECT_NE(shaded.grab().toImage(), plain.grab().toImage());
}

// The end of the capture makes the recording the sample store in whatever
// state playback is; playback goes on and the analysis follows the slider.
TEST_F(TransportTest, TheCaptureEndFinishesInAnyPlayStateAndLeavesItAlone) {
    const struct {
        const char* name;
        void (TestDialog::*action)();  // null: still playing
        std::string state;
    } cases[] = {
        {"playing", nullptr, "play 3 graph 2 loaded 1 complete 1 samples 44100 save timer"},
        {"paused", &TestDialog::OnPause,
         "play 2 graph 1 loaded 1 complete 1 samples 44100 save timer"},
        {"rewound", &TestDialog::OnRewind, "play 1 graph 1 loaded 1 complete 1 samples 44100 save"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reports.clear();
        TestDialog& d = Open(44100);
        engine->graph()->position = 5000000;
        d.OnTimer();
        if (c.action != nullptr) (d.*c.action)();
        const int slider = d.m_sliderTime->value();
        EndCapture();
        EXPECT_EQ(State(d), c.state);
        EXPECT_EQ(d.m_sliderTime->value(), slider);
        EXPECT_EQ(d.m_nStartSample, slider);
        EXPECT_EQ(d.m_model->block()->m_bCapture.load(), 0);
        EXPECT_EQ(engine->decode(), nullptr);  // stopped and released
        EXPECT_FALSE(d.m_stPeak->text().isEmpty());
        EXPECT_EQ(static_cast<TimeSlider*>(d.m_sliderTime)->captured(), -1.0);
        EXPECT_TRUE(reports.empty());
    }
}

TEST_F(TransportTest, TheTransportMovesPlaybackOnlyAndTheEndOfPlaybackOnlyRewinds) {
    TestDialog& d = Open(10000);
    d.OnPause();
    d.OnPause();
    d.OnRewind();
    d.OnPlay();
    EndPlayback();  // before the capture's end
    EXPECT_EQ(State(d), "play 1 graph 1 loaded 0 complete 0 samples 0 capturing");
    EXPECT_EQ(d.m_sliderTime->value(), 0);
    ASSERT_TRUE(engine->FeedSample(10000.0 / 44100, Pcm16(34100, 2, 100)));
    EndCapture();
    EXPECT_EQ(State(d), "play 1 graph 1 loaded 1 complete 1 samples 44100 save");

    // Played again: its end rewinds and leaves the sample store alone.
    d.OnPlay();
    d.m_sliderTime->setValue(1000);
    EndPlayback();
    EXPECT_EQ(State(d), "play 1 graph 1 loaded 1 complete 1 samples 44100 save");
    EXPECT_EQ(d.m_sliderTime->value(), 0);
    EXPECT_EQ(engine->CallCount("Decode.Start"), 1);

    // A state change that fails is reported once the graph has tried it; the
    // play state is the one asked for, as before.
    reports.clear();
    engine->FailCall("Graph.Run", media::E_FAIL, 0, 1);
    d.OnPlay();
    EXPECT_EQ(State(d), "play 3 graph 1 loaded 1 complete 1 samples 44100 save timer");
    EXPECT_EQ(reports, std::vector<std::string>{"\r\n*** Failed(80004005) in Run()!\r\n"});
}

// A damaged file: the capture fails part-way and the playback breaks off.
// What was captured is kept and the message comes once.
TEST_F(TransportTest, ACaptureErrorKeepsThePartialCaptureAndReportsOnce) {
    TestDialog& d = Open(10000);
    EndCapture(media::E_FAIL);
    EXPECT_EQ(State(d), "play 3 graph 2 loaded 1 complete 0 samples 10000 save timer");
    engine->PostEvent(media::EC_ERRORABORT);
    QCoreApplication::processEvents();
    EXPECT_EQ(State(d), "play 1 graph 0 loaded 1 complete 0 samples 10000 save");
    EXPECT_EQ(reports, std::vector<std::string>{"ﾌｧｲﾙの読み込み中にｴﾗｰが発生しました。  "});

    // A decode that cannot start at all ends the same way, with no samples.
    reports.clear();
    engine->FailCall("Decode.Start", media::E_FAIL);
    TestDialog& e = Open(0);
    EXPECT_EQ(State(e), "play 3 graph 2 loaded 1 complete 0 samples 0 timer");
    EXPECT_EQ(reports,
              (std::vector<std::string>{"ﾌｧｲﾙの読み込み中にｴﾗｰが発生しました。  ",
                                        "ﾃﾞｰﾀのｻﾝﾌﾟﾙ数が極端に少ないので計算できません。  "}));
}

TEST_F(TransportTest, ANewFileOrTheCloseStopsTheCaptureBeforeTheGraph) {
    TestDialog& d = Open(4096);
    ASSERT_TRUE(media::WaitForDetachedJobs(std::chrono::seconds(5)));
    engine->ClearCalls();
    vurma::test::OpenAndWait(d, QString::fromStdString(AddFile("next.wav")));
    const auto calls = engine->calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), "Decode.Stop");
    EXPECT_EQ(State(d), "play 3 graph 2 loaded 0 complete 0 samples 0 timer capturing");
    d.show();
    ASSERT_TRUE(media::WaitForDetachedJobs(std::chrono::seconds(5)));
    engine->ClearCalls();
    d.close();
    ASSERT_FALSE(engine->calls().empty());
    EXPECT_EQ(engine->calls().front(), "Decode.Stop");
    ASSERT_TRUE(media::WaitForDetachedJobs(std::chrono::seconds(5)));
    EXPECT_FALSE(engine->FeedSample(0.0, Pcm16(512, 2, 1)));
}

TEST_F(TransportTest, SliderSeeksOnlyWhenLoadedAndNotPlaying) {
    TestDialog& d = Open(44100);
    engine->graph()->position = 0;
    d.m_sliderTime->setValue(100);  // capturing: neither start sample nor seek
    Settle(d);
    EXPECT_EQ(engine->graph()->position, 0);
    EXPECT_EQ(d.m_nStartSample, 0);
    EndCapture();
    d.m_sliderTime->setValue(11025);  // playing: no seek
    Settle(d);
    EXPECT_EQ(engine->graph()->position, 0);
    EXPECT_EQ(d.m_nStartSample, 11025);
    d.OnPause();
    d.m_sliderTime->setValue(22050);  // paused: seeks to (end - start) * s / n
    EXPECT_EQ(d.m_nStartSample, 22050);
    Settle(d);
    EXPECT_EQ(engine->graph()->position, 15000000);
}

// Find waits for the whole capture and a stopped or paused transport, then
// places the frame at the loudest sample, or as late as a frame still fits
// when that sample lies in the last N - 1: the spectrum shows and Save As works.
TEST_F(TransportTest, SearchPlacesAFittingFrameOverTheLoudestSample) {
    const struct {
        int loudAt, expected;
    } cases[] = {{500, 500}, {953, 953}, {954, 953}, {3000, 953}};  // 3001 frames, N = 2048
    for (const auto& c : cases) {
        dlg.reset();
        TestDialog& d = Open(c.loudAt);
        ASSERT_TRUE(engine->FeedSample(c.loudAt / 44100.0, Pcm16(1, 2, -30000)));
        if (c.loudAt < 3000) {
            ASSERT_TRUE(
                engine->FeedSample((c.loudAt + 1) / 44100.0, Pcm16(3000 - c.loudAt, 2, 100)));
        }
        d.OnPause();
        d.OnSearch();  // still capturing
        EXPECT_EQ(d.m_sliderTime->value(), 0);
        d.OnPause();
        EndCapture();
        ASSERT_EQ(d.m_nSamples, 3001);
        d.OnSearch();  // playing
        EXPECT_EQ(d.m_sliderTime->value(), 0);
        d.OnPause();
        d.OnSearch();
        EXPECT_EQ(d.m_sliderTime->value(), c.expected) << c.loudAt;
        EXPECT_EQ(d.m_nStartSample, c.expected);
        EXPECT_TRUE(d.m_actSaveAs->isEnabled()) << c.loudAt;
        EXPECT_FALSE(d.m_stPeak->text().isEmpty());
    }
}

// While the user holds the time position (the handle, or a press in the
// spectrogram) the timer leaves it alone; letting go while playing continues
// playback there. Paused, the slider seeks as it moves and the release adds
// nothing.
TEST_F(TransportTest, AHeldPositionIsNotSnappedBackAndPlaybackContinuesFromTheRelease) {
    TestDialog& d = Open(44100);
    EndCapture();
    ASSERT_EQ(d.m_nPlayState, 3);
    std::int64_t& clock = engine->graph()->position;
    const int range = d.m_sliderTime->maximum();
    const std::int64_t end = d.m_endFrame;
    auto tick = [&](std::int64_t at) {
        clock = at;
        d.OnTimer();
    };
    tick(end / 2);
    EXPECT_EQ(d.m_sliderTime->value(), range / 2);

    const std::function<void(bool)> holds[] = {
        [&](bool down) { d.m_sliderTime->setSliderDown(down); },  // the handle
        [&](bool down) { d.HoldTimePosition(down); },             // the spectrogram
    };
    for (const auto& hold : holds) {
        hold(true);
        d.m_sliderTime->setValue(range / 4);
        tick(end * 3 / 4);
        EXPECT_EQ(d.m_sliderTime->value(), range / 4);
        hold(false);
        Settle(d);
        EXPECT_NEAR(static_cast<double>(clock), end / 4.0, end / range + 1.0);
        tick(clock);
        EXPECT_EQ(d.m_sliderTime->value(), range / 4);
        EXPECT_EQ(d.m_nPlayState, 3);
        tick(end / 2);
        EXPECT_EQ(d.m_sliderTime->value(), range / 2);
    }
    // A key (or a click in the groove) moves playback with the slider.
    d.m_sliderTime->triggerAction(QAbstractSlider::SliderPageStepAdd);
    const int paged = range / 2 + d.m_sliderTime->pageStep();
    EXPECT_EQ(d.m_sliderTime->value(), paged);
    Settle(d);
    EXPECT_NEAR(static_cast<double>(clock), static_cast<double>(end) * paged / range, 1.0);

    d.OnPause();
    d.m_sliderTime->setSliderDown(true);
    d.m_sliderTime->setValue(range / 8);
    Settle(d);
    const std::int64_t seeked = clock;
    engine->ClearCalls();
    d.m_sliderTime->setSliderDown(false);
    Settle(d);
    EXPECT_EQ(engine->CallCount("Graph.SetPositions"), 0);
    EXPECT_EQ(clock, seeked);
    EXPECT_EQ(d.m_nPlayState, 2);
}

// The level mapping is checked in the session; here the slider and the mute
// button drive it, and mute holds across slider moves and loads.
TEST_F(TransportTest, VolumeFollowsTheSliderUnlessMuted) {
    TestDialog& d = Open();
    // The level the graph has once its commands have run.
    auto volume = [&] {
        Settle(d);
        return engine->graph()->volume;
    };
    d.m_sliderVolume->setValue(0);
    EXPECT_EQ(volume(), -10000);
    d.m_sliderVolume->setValue(50);
    EXPECT_EQ(volume(), -5000);
    d.OnMute();
    EXPECT_TRUE(d.m_btnMute->isChecked());
    EXPECT_EQ(volume(), -10000);
    d.m_sliderVolume->setValue(100);  // muted: nothing audible changes
    EXPECT_EQ(volume(), -10000);
    vurma::test::OpenAndWait(d, QString::fromStdString(AddFile("next.wav")));
    ASSERT_EQ(d.m_nPlayState, 3);
    EXPECT_EQ(volume(), -10000);
    d.OnMute();  // back to the slider's level
    EXPECT_FALSE(d.m_btnMute->isChecked());
    EXPECT_EQ(volume(), 0);
}

TEST_F(TransportTest, ShortCapturesAreRefusedOrStepTheSizeDownOnce) {
    TestDialog& d = Open(511);
    EndCapture();
    EXPECT_EQ(reports,
              std::vector<std::string>{"ﾃﾞｰﾀのｻﾝﾌﾟﾙ数が極端に少ないので計算できません。  "});
    EXPECT_EQ(State(d), "play 3 graph 2 loaded 1 complete 1 samples 511 timer");
    EXPECT_EQ(d.m_cbSampleCount->currentIndex(), 0);
    EXPECT_TRUE(d.m_stPeak->text().isEmpty());

    reports.clear();
    TestDialog& e = Open(1000);
    e.m_cbSampleCount->setCurrentIndex(3);
    EndCapture();
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(e.m_cbSampleCount->currentIndex(), 2);
    EXPECT_FALSE(e.m_actSaveAs->isEnabled());  // 2048 still does not fit in 1000

    // A file shorter than the frame gets no live frame while it plays.
    FakeFile shortFile;
    shortFile.duration = 200000;  // 0.02 s: 882 frames
    TestDialog& f = Open(882, shortFile);
    engine->graph()->position = 0;
    f.OnTimer();
    EXPECT_EQ(f.m_nSamples, 0);
    EndCapture();
    EXPECT_EQ(f.m_nSamples, 882);
    EXPECT_EQ(f.m_cbSampleCount->currentIndex(), 1);
}

TEST_F(TransportTest, VideoPicturesReachThePanel) {
    FakeFile video;
    video.hasVideo = true;
    TestDialog& d = Open(0, video);
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
    vurma::test::OpenAndWait(d, QString::fromStdString(AddFile("audio.wav")));
    EXPECT_TRUE(d.m_stNoVideo->isVisible());
    EXPECT_TRUE(d.m_stVideo->picture().isNull());
}

}  // namespace
}  // namespace vurma::app::test
