// Odd and hostile files opened in the offscreen window on the real engine:
// refusals show the program's message and leave a window that opens and
// plays the next file; odd but valid files are captured frame for frame.
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QTimer>
#include <filesystem>
#include <memory>

#include "hostile_corpus.h"
#include "media/media_session.h"
#include "window_util.h"

namespace vurma::reliability {
namespace {

class HostileWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        EnsureApp();
        ASSERT_FALSE(dir.path().empty());
        good = dir.File("good.wav");
        WavSpec spec;
        spec.frames = 8820;  // 0.2 s
        ASSERT_TRUE(WriteWav(good, spec));
        dlg = std::make_unique<app::CAnalyzerDlg>(media::CreateGstEngine());
        dlg->show();
    }
    void TearDown() override { dlg.reset(); }

    void Open(const std::string& path) { dlg->OpenMediaFile(QString::fromStdString(path)); }

    // The window is back in the no-file state after a refusal.
    void ExpectNoFile() {
        EXPECT_EQ(dlg->m_nPlayState, 0);
        EXPECT_EQ(dlg->m_pCallBack, nullptr);
        EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Vurma"));
        EXPECT_FALSE(dlg->m_actSaveAs->isEnabled());
        EXPECT_FALSE(dlg->m_timer->isActive());
    }

    // The good file opens, plays and is being captured.
    void ExpectGoodFilePlays() {
        reports.texts.clear();
        Open(good);
        EXPECT_EQ(dlg->m_nPlayState, 3);
        EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Vurma - [good.wav]"));
        EXPECT_TRUE(WaitForCapturing(*dlg));
        EXPECT_TRUE(reports.texts.empty()) << reports.texts.front();
    }

    TempDir dir{"vurma_hostile_window"};
    RecordReports reports;
    std::string good;
    std::unique_ptr<app::CAnalyzerDlg> dlg;
};

TEST_F(HostileWindow, RefusedFilesShowTheirMessageAndTheNextFilePlays) {
    const std::string folder = dir.File("folder.wav");
    std::filesystem::create_directory(folder);
    WavSpec wide;
    wide.bits = 24;
    ASSERT_TRUE(WriteBytes(dir.File("empty.wav"), ""));
    ASSERT_TRUE(WriteBytes(dir.File("random.mp4"), RandomBytes(20000, 3)));
    ASSERT_TRUE(WriteSilentVideo(dir.File("no sound.avi")));
    ASSERT_TRUE(WriteWav(dir.File("24bit.wav"), wide));
    const struct {
        std::string path;
        std::string message;
    } refusals[] = {
        {dir.File("empty.wav"), kMsgCannotProcess},
        {dir.File("random.mp4"), kMsgCannotProcess},
        {folder, kMsgCannotProcess},
        {dir.File("missing.wav"), kMsgCannotProcess},
        {dir.File("no sound.avi"), kMsgNoSound},
        {dir.File("24bit.wav"), "24ﾋﾞｯﾄのｻﾝﾌﾟﾙは処理できません。  "},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.path);
        reports.texts.clear();
        Open(r.path);
        // Exactly the message, shown once, and no diagnostics.
        ASSERT_EQ(reports.texts.size(), 1u);
        EXPECT_EQ(reports.texts[0], r.message);
        ExpectNoFile();
        ExpectGoodFilePlays();
    }
    EXPECT_TRUE(WaitForCaptureEnd(*dlg));
    EXPECT_EQ(dlg->m_nSamples, 8820);
}

TEST_F(HostileWindow, OddButValidFilesAreCapturedFrameForFrame) {
    WavSpec claimsMore;
    claimsMore.claimedDataBytes = 100000000;
    WavSpec allOnes;
    allOnes.claimedDataBytes = 0xFFFFFFFF;
    WavSpec truncated;
    truncated.keepBytes = 44 + 2205 * 4 + 3;
    WavSpec mono;
    mono.channels = 1;
    WavSpec eight;
    eight.channels = 8;
    eight.frames = 2205;
    WavSpec low;
    low.rate = 8000;
    low.frames = 1600;
    WavSpec high;
    high.rate = 192000;
    high.frames = 19200;
    WavSpec bytes8;
    bytes8.bits = 8;
    WavSpec exact;
    exact.frames = 512;
    const struct {
        std::string name;
        WavSpec spec;
        int frames;
    } files[] = {
        {"a b, c 日本語 ﾃｽﾄ 🎵.wav", WavSpec{}, 4410},
        {"claims more.wav", claimsMore, 4410},
        {"size ffffffff.wav", allOnes, 4410},
        {"truncated.wav", truncated, 2205},  // the partial last frame is left out
        {"mono.wav", mono, 4410},
        {"eight.wav", eight, 2205},
        {"8k.wav", low, 1600},
        {"192k.wav", high, 19200},
        {"8bit.wav", bytes8, 4410},
        {"512 frames.wav", exact, 512},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        reports.texts.clear();
        const std::string path = dir.File(f.name);
        ASSERT_TRUE(WriteWav(path, f.spec));
        Open(path);
        EXPECT_EQ(dlg->windowTitle(), QString::fromStdString("Vurma - [" + f.name + "]"));
        ASSERT_TRUE(WaitForCaptureEnd(*dlg));
        EXPECT_EQ(dlg->m_nSamples, f.frames);
        EXPECT_TRUE(dlg->m_actSaveAs->isEnabled());
        EXPECT_TRUE(reports.texts.empty()) << reports.texts.front();
    }
}

TEST_F(HostileWindow, AFileShorterThanTheSmallestFrameIsRefusedAfterItsCapture) {
    WavSpec shortWav;
    shortWav.frames = 300;
    const std::string path = dir.File("300 frames.wav");
    ASSERT_TRUE(WriteWav(path, shortWav));
    Open(path);
    ASSERT_TRUE(WaitForCaptureEnd(*dlg));
    ASSERT_EQ(reports.texts.size(), 1u);
    EXPECT_EQ(reports.texts[0], kMsgTooFew);
    EXPECT_EQ(dlg->m_nSamples, 300);
    EXPECT_EQ(dlg->m_cbSampleCount->currentIndex(), 0);
    EXPECT_FALSE(dlg->m_actSaveAs->isEnabled());
    ExpectGoodFilePlays();
}

TEST_F(HostileWindow, AFileDeletedBeforeItsReplayIsReportedAndTheWindowGoesOn) {
    // Rewound during the capture: Play loads the file again, which is gone.
    const std::string doomed = dir.File("doomed.wav");
    WavSpec second;
    second.frames = 44100;
    ASSERT_TRUE(WriteWav(doomed, second));
    Open(doomed);
    ASSERT_TRUE(WaitForCapturing(*dlg));
    dlg->OnRewind();
    ASSERT_EQ(dlg->m_bCaptureComplete, 0);
    ASSERT_EQ(dlg->m_sliderTime->value(), 0);
    ASSERT_TRUE(std::filesystem::remove(doomed));
    reports.texts.clear();
    dlg->OnPlay();
    ASSERT_EQ(reports.texts.size(), 1u);
    EXPECT_EQ(reports.texts[0], kMsgCannotProcess);
    ExpectNoFile();
    ExpectGoodFilePlays();
    ASSERT_TRUE(WaitForCaptureEnd(*dlg));

    // Captured completely: the replay runs on the open graph and ends again.
    ASSERT_TRUE(std::filesystem::remove(good));
    reports.texts.clear();
    dlg->OnPlay();
    EXPECT_EQ(dlg->m_nPlayState, 3);
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg->m_nPlayState == 1; }, 10000));
    EXPECT_EQ(dlg->m_nSamples, 8820);
    EXPECT_TRUE(reports.texts.empty()) << reports.texts.front();
}

TEST_F(HostileWindow, AudioWithABrokenSecondHalfStillEndsItsCapture) {
    const std::string tone =
        "audiotestsrc num-buffers=22 samplesperbuffer=1024 freq=440 ! "
        "audio/x-raw,rate=44100,channels=2 ! audioconvert ! ";
    const struct {
        std::string name;
        std::string encoder;
    } files[] = {
        {"broken.mp3", "lamemp3enc ! xingmux"},
        {"broken.flac", "flacenc"},
        {"broken.mka", "vorbisenc ! matroskamux"},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        const std::string path = dir.File(f.name);
        ASSERT_TRUE(GstLaunch(tone + f.encoder, path));
        ASSERT_TRUE(BreakSecondHalf(path, 7));
        reports.texts.clear();
        Open(path);
        if (dlg->m_nPlayState == 0) {
            // Refused at once: with one of the program's messages.
            ASSERT_EQ(reports.texts.size(), 1u);
            EXPECT_TRUE(reports.texts[0] == kMsgCannotProcess || reports.texts[0] == kMsgNoSound)
                << reports.texts[0];
            ExpectNoFile();
            continue;
        }
        // The window does not stay in the first playback for ever, and what
        // was decoded is kept (or refused as too short, with the message).
        ASSERT_TRUE(WaitForCaptureEnd(*dlg));
        if (dlg->m_nSamples >= 512) {
            EXPECT_TRUE(reports.texts.empty()) << reports.texts.front();
        } else {
            EXPECT_EQ(reports.texts, std::vector<std::string>{kMsgTooFew});
        }
    }
    ExpectGoodFilePlays();
}

TEST_F(HostileWindow, AnMp3WithoutALengthHeaderIsCapturedWhole) {
    // Variable bit rate and no header frame: the length is not written anywhere.
    const std::string path = dir.File("plain.mp3");
    ASSERT_TRUE(WriteMp3(path, 1.0, false));
    Open(path);
    ASSERT_EQ(dlg->m_nPlayState, 3);
    ASSERT_TRUE(WaitForCaptureEnd(*dlg));
    // 43 buffers of 1024 frames went into the encoder.
    EXPECT_GT(dlg->m_nSamples, 43000);
    EXPECT_TRUE(reports.texts.empty()) << reports.texts.front();
}

TEST_F(HostileWindow, AHugeClaimedDurationDoesNotTakeTheMemoryAtOnce) {
    // 17640 bytes of sound whose header claims a byte rate of 30: 588 s, for
    // which the sample arrays have room (2 x 207 MB) that is never written.
    WavSpec liar;
    liar.claimedByteRate = 30;
    const std::string path = dir.File("liar.wav");
    ASSERT_TRUE(WriteWav(path, liar));
    const std::uint64_t before = ResidentBytes();
    Open(path);
    const std::uint64_t after = ResidentBytes();
    ASSERT_EQ(dlg->m_nPlayState, 3);
    EXPECT_EQ(dlg->m_nCapacity, 25930844u);  // 44100 x 588.001 s
    std::printf("resident memory: %.1f MB before the load, %.1f MB after it\n", before / 1e6,
                after / 1e6);
    EXPECT_LT(after, before + (64u << 20));
    // Its time stamps stretch the sound over the claimed length: the user
    // rewinds, which ends the capture with what arrived.
    ASSERT_TRUE(WaitForCapturing(*dlg));
    dlg->OnRewind();
    EXPECT_EQ(dlg->m_bLoaded, 1);
    EXPECT_GT(dlg->m_nSamples, 0);
    EXPECT_LE(dlg->m_nSamples, 4410);
    EXPECT_TRUE(reports.texts.empty() || reports.texts == std::vector<std::string>{kMsgTooFew})
        << reports.texts.front();
    ExpectGoodFilePlays();
}

}  // namespace
}  // namespace vurma::reliability
