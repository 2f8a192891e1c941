// Odd and hostile files opened in the offscreen window on the real engine:
// refusals show the program's message and leave a window that opens and
// plays the next file; odd but valid files are captured frame for frame.
#include <QAction>
#include <QComboBox>
#include <QTimer>
#include <filesystem>
#include <memory>

#include "hostile_corpus.h"
#include "media/background.h"
#include "media/media_session.h"
#include "window_util.h"

namespace vurma::reliability {
namespace {

class HostileWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        test::EnsureApp();
        ASSERT_TRUE(WriteWav(good, {.frames = 8820}));  // 0.2 s
        dlg = std::make_unique<app::test::TestDialog>(media::CreateGstEngine());
        dlg->show();
    }

    // Nothing of the window's graphs may run into the test's exit.
    void TearDown() override {
        dlg.reset();
        EXPECT_TRUE(media::WaitForDetachedJobs(std::chrono::seconds(5)));
    }

    void Open(const std::string& path) {
        vurma::test::OpenAndWait(*dlg, QString::fromStdString(path));
    }

    // The window is back in the no-file state after a refusal.
    void ExpectNoFile() {
        EXPECT_EQ(dlg->m_nPlayState, 0);
        EXPECT_EQ(dlg->m_model->block(), nullptr);
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
        EXPECT_EQ(reports.texts, std::vector<std::string>{});
    }

    test::ScratchDir dir{"hostile-window"};
    test::ReportRecorder reports;
    std::string good = dir / "good.wav";
    std::unique_ptr<app::test::TestDialog> dlg;
};

TEST_F(HostileWindow, RefusedFilesShowTheirMessageAndTheNextFilePlays) {
    ASSERT_TRUE(WriteBytes(dir / "random.mp4", RandomBytes(20000, 3)));
    ASSERT_TRUE(WriteVideo(dir / "no sound.avi", false));
    const std::pair<std::string, std::string> refusals[] = {
        {"random.mp4", kMsgCannotProcess},
        {"missing.wav", kMsgCannotProcess},
        {"no sound.avi", kMsgNoSound},
    };
    for (const auto& [name, message] : refusals) {
        SCOPED_TRACE(name);
        reports.texts.clear();
        Open(dir / name);
        EXPECT_EQ(reports.texts, std::vector<std::string>{message});  // once, no diagnostics
        ExpectNoFile();
        ExpectGoodFilePlays();
    }
    EXPECT_TRUE(WaitForCaptureEnd(*dlg));
    EXPECT_EQ(dlg->m_nSamples, 8820);
}

TEST_F(HostileWindow, OddButValidFilesAreCapturedFrameForFrame) {
    const struct {
        std::string name;
        WavFormat wav;
        int frames;
        std::string message;  // a refusal after the capture
    } files[] = {
        {"a b, c 日本語 ﾃｽﾄ 🎵.wav", {}, 4410, ""},
        {"claims more.wav", {.claimedDataBytes = 100000000}, 4410, ""},
        {"truncated.wav", {.keepBytes = 44 + 2205 * 4 + 3}, 2205, ""},  // partial frame left out
        {"eight.wav", {.channels = 8, .frames = 2205}, 2205, ""},
        {"192k.wav", {.rate = 192000, .frames = 19200}, 19200, ""},
        {"8bit.wav", {.bits = 8}, 4410, ""},
        {"24bit.wav", {.bits = 24}, 4410, ""},
        {"300 frames.wav", {.frames = 300}, 300, kMsgTooFew},  // shorter than the smallest frame
        {"512 frames.wav", {.frames = 512}, 512, ""},          // after 300: 512 is selected
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        reports.texts.clear();
        ASSERT_TRUE(WriteWav(dir / f.name, f.wav));
        Open(dir / f.name);
        EXPECT_EQ(dlg->windowTitle(), QString::fromStdString("Vurma - [" + f.name + "]"));
        ASSERT_TRUE(WaitForCaptureEnd(*dlg));
        EXPECT_EQ(dlg->m_nSamples, f.frames);
        EXPECT_EQ(dlg->m_actSaveAs->isEnabled(), f.message.empty());
        EXPECT_EQ(reports.texts, f.message.empty() ? std::vector<std::string>{}
                                                   : std::vector<std::string>{f.message});
    }
    EXPECT_EQ(dlg->m_cbSampleCount->currentIndex(), 0);
    ExpectGoodFilePlays();

    // Variable bit rate and no header frame: the length is written nowhere.
    reports.texts.clear();
    ASSERT_TRUE(WriteMp3(dir / "plain.mp3", false));
    Open(dir / "plain.mp3");
    ASSERT_EQ(dlg->m_nPlayState, 3);
    ASSERT_TRUE(WaitForCaptureEnd(*dlg));
    EXPECT_GT(dlg->m_nSamples, 43000);  // 43 buffers of 1024 frames went in
    EXPECT_EQ(reports.texts, std::vector<std::string>{});
}

TEST_F(HostileWindow, AReplayAfterTheFileIsGoneRunsOnTheOpenGraph) {
    ExpectGoodFilePlays();
    ASSERT_TRUE(WaitForCaptureEnd(*dlg));
    ASSERT_TRUE(std::filesystem::remove(good));
    dlg->OnRewind();
    dlg->OnPlay();
    EXPECT_EQ(dlg->m_nPlayState, 3);
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg->m_nPlayState == 1; }, 10000));
    EXPECT_EQ(dlg->m_nSamples, 8820);
    EXPECT_EQ(reports.texts, std::vector<std::string>{});
}

TEST_F(HostileWindow, AudioWithABrokenSecondHalfStillEndsItsCapture) {
    const std::string tone =
        "audiotestsrc num-buffers=22 samplesperbuffer=1024 freq=440 ! "
        "audio/x-raw,rate=44100,channels=2 ! audioconvert ! ";
    const std::pair<std::string, std::string> files[] = {
        {"broken.mp3", "lamemp3enc ! xingmux"},
        {"broken.flac", "flacenc"},
        {"broken.mka", "vorbisenc ! matroskamux"},
    };
    for (const auto& [name, encoder] : files) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(GstWrite(tone + encoder, dir / name));
        ASSERT_TRUE(BreakSecondHalf(dir / name, 7));
        reports.texts.clear();
        Open(dir / name);
        if (dlg->m_nPlayState == 0) {
            // Refused at once: with one of the program's messages.
            ASSERT_EQ(reports.texts.size(), 1u);
            EXPECT_TRUE(reports.texts[0] == kMsgCannotProcess || reports.texts[0] == kMsgNoSound)
                << reports.texts[0];
            ExpectNoFile();
            continue;
        }
        // The capture ends, and what was decoded is kept (or refused
        // as too short, with the message).
        ASSERT_TRUE(WaitForCaptureEnd(*dlg));
        EXPECT_EQ(reports.texts, dlg->m_nSamples >= 512 ? std::vector<std::string>{}
                                                        : std::vector<std::string>{kMsgTooFew});
    }
    ExpectGoodFilePlays();
}

TEST_F(HostileWindow, AHugeClaimedDurationDoesNotTakeTheMemoryAtOnce) {
    // 17640 bytes of sound whose header claims a byte rate of 30: 588 s, for
    // which the sample arrays have room (2 x 207 MB) that is never written.
    ASSERT_TRUE(WriteWav(dir / "liar.wav", {.claimedByteRate = 30}));
    const std::uint64_t before = ResidentBytes();
    Open(dir / "liar.wav");
    const std::uint64_t after = ResidentBytes();
    ASSERT_EQ(dlg->m_nPlayState, 3);
    EXPECT_EQ(dlg->m_nCapacity, 25930844u);  // 44100 x 588.001 s
    std::printf("resident memory: %.1f MB before the load, %.1f MB after it\n", before / 1e6,
                after / 1e6);
    EXPECT_LT(after, before + (64u << 20));
    // The capture does not wait for the time stamps: the sound there is
    // captured at once, and the recording is what arrived.
    ASSERT_TRUE(WaitForCaptureEnd(*dlg));
    EXPECT_EQ(dlg->m_nSamples, 4410);
    EXPECT_EQ(dlg->m_nPlayState, 3);
    EXPECT_TRUE(reports.texts.empty()) << reports.texts.front();
    ExpectGoodFilePlays();
}

}  // namespace
}  // namespace vurma::reliability
