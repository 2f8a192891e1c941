// Closing the window in every state: the graph is stopped while everything
// is still in place, then torn down; afterwards no sample reaches any
// capture. On the real engine the close comes while the streaming thread is
// appending (under AddressSanitizer a late callback would be caught).
#include <QAction>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <memory>

#include "hostile_corpus.h"
#include "media/fake_engine.h"
#include "media/media_session.h"
#include "probe_engine.h"
#include "window_util.h"

namespace vurma::reliability {
namespace {

std::vector<std::uint8_t> Pcm16(int frames, int channels, std::int16_t value) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(frames) * channels * 2);
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        bytes[i] = static_cast<std::uint8_t>(value & 0xFF);
        bytes[i + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
    }
    return bytes;
}

class CloseInEveryState : public ::testing::Test {
  protected:
    void SetUp() override {
        EnsureApp();
        ASSERT_FALSE(dir.path().empty());
        engine = std::make_shared<ProbeEngine>(fake);
        engine->onStop = [this] {
            // What the window holds when it stops the graph.
            ++stops;
            if (dlg == nullptr || !dlg->m_bShutDown) return;
            stoppedWithSamples = dlg->m_pSamples != nullptr;
            stoppedWithCapture = dlg->m_pCallBack != nullptr && fake->liveGraphs() == 1;
        };
        dlg = std::make_unique<app::CAnalyzerDlg>(engine);
        dlg->show();
    }
    void TearDown() override { dlg.reset(); }

    std::string AddFile(const std::string& name, media::FakeFile file = {}) {
        const std::string path = dir.File(name);
        WriteBytes(path, "");
        fake->AddFile(path, file);
        return path;
    }
    void Open(const std::string& path) { dlg->OpenMediaFile(QString::fromStdString(path)); }

    // Closes with the close box and checks what must hold in every state.
    void CloseAndCheck() {
        dlg->close();
        EXPECT_TRUE(dlg->m_bShutDown);
        EXPECT_FALSE(dlg->isVisible());
        EXPECT_EQ(dlg->m_pSamples, nullptr);
        EXPECT_EQ(dlg->m_pWindowed, nullptr);
        EXPECT_EQ(dlg->m_pCallBack, nullptr);
        EXPECT_FALSE(dlg->m_timer->isActive());
        EXPECT_EQ(fake->liveGraphs(), 0);
        // No capture is left to receive anything.
        EXPECT_FALSE(fake->FeedSample(99.0, Pcm16(512, 2, 100)));
    }

    TempDir dir{"vurma_close"};
    RecordReports reports;
    std::shared_ptr<media::FakeEngine> fake = std::make_shared<media::FakeEngine>();
    std::shared_ptr<ProbeEngine> engine;
    std::unique_ptr<app::CAnalyzerDlg> dlg;
    int stops = 0;
    bool stoppedWithSamples = false;
    bool stoppedWithCapture = false;
};

TEST_F(CloseInEveryState, NoFile) {
    CloseAndCheck();
    EXPECT_TRUE(reports.texts.empty());
}

TEST_F(CloseInEveryState, PlayingWhileCapturing) {
    Open(AddFile("a.wav"));
    ASSERT_TRUE(fake->FeedSample(0.0, Pcm16(4096, 2, 1000)));
    ASSERT_EQ(dlg->m_nPlayState, 3);
    stops = 0;
    CloseAndCheck();
    EXPECT_EQ(stops, 1);
    EXPECT_TRUE(stoppedWithSamples);  // stopped before anything was freed
    EXPECT_TRUE(stoppedWithCapture);
    EXPECT_TRUE(reports.texts.empty());
}

TEST_F(CloseInEveryState, PausedWhileCapturing) {
    Open(AddFile("a.wav"));
    ASSERT_TRUE(fake->FeedSample(0.0, Pcm16(4096, 2, 1000)));
    dlg->OnPause();
    ASSERT_EQ(dlg->m_nPlayState, 2);
    stops = 0;
    CloseAndCheck();
    EXPECT_EQ(stops, 1);
    EXPECT_TRUE(stoppedWithSamples);
    EXPECT_TRUE(stoppedWithCapture);
}

TEST_F(CloseInEveryState, PlayingAfterTheCapture) {
    Open(AddFile("a.wav"));
    ASSERT_TRUE(fake->FeedSample(0.0, Pcm16(44100, 2, 1000)));
    fake->PostComplete();
    QCoreApplication::processEvents();
    ASSERT_EQ(dlg->m_bLoaded, 1);
    dlg->OnPlay();
    ASSERT_EQ(dlg->m_nPlayState, 3);
    stops = 0;
    CloseAndCheck();
    EXPECT_EQ(stops, 1);
    EXPECT_TRUE(stoppedWithSamples);
}

TEST_F(CloseInEveryState, StoppedAfterTheCapture) {
    Open(AddFile("a.wav"));
    ASSERT_TRUE(fake->FeedSample(0.0, Pcm16(44100, 2, 1000)));
    fake->PostComplete();
    QCoreApplication::processEvents();
    ASSERT_EQ(dlg->m_nPlayState, 1);
    stops = 0;
    CloseAndCheck();
    EXPECT_TRUE(stops == 0 || stoppedWithSamples);
}

TEST_F(CloseInEveryState, AfterAFailedLoad) {
    Open(AddFile("a.wav"));
    ASSERT_TRUE(fake->FeedSample(0.0, Pcm16(4096, 2, 1000)));
    media::FakeFile broken;
    broken.renderResult = media::E_FAIL;
    Open(AddFile("broken.wav", broken));
    ASSERT_EQ(dlg->m_nPlayState, 0);
    ASSERT_EQ(reports.texts, std::vector<std::string>{kMsgCannotProcess});
    CloseAndCheck();
}

TEST_F(CloseInEveryState, WithAnEndOfMediaQueuedBehindTheClose) {
    Open(AddFile("a.wav"));
    ASSERT_TRUE(fake->FeedSample(0.0, Pcm16(4096, 2, 1000)));
    // The notification is posted; the close runs before it is delivered.
    fake->PostComplete();
    dlg->close();
    QCoreApplication::processEvents();
    EXPECT_EQ(dlg->m_bLoaded, 0);
    EXPECT_EQ(dlg->m_pSamples, nullptr);
    EXPECT_TRUE(reports.texts.empty());
}

// The real engine: the close comes while the streaming thread appends.
class CloseUnderLoad : public ::testing::Test {
  protected:
    void SetUp() override {
        EnsureApp();
        ASSERT_FALSE(dir.path().empty());
        path = dir.File("two seconds.wav");
        WavSpec spec;
        spec.frames = 88200;
        ASSERT_TRUE(WriteWav(path, spec));
    }

    // Opens the file, waits until the capture runs and keeps the capture
    // alive past the close, to see whether anything still reaches it.
    media::CGrabberCallback* OpenAndHold(app::CAnalyzerDlg& d) {
        d.OpenMediaFile(QString::fromStdString(path));
        EXPECT_TRUE(WaitForCapturing(d));
        media::CGrabberCallback* cb = d.m_pCallBack;
        if (cb != nullptr) cb->AddRef();
        return cb;
    }

    // After the close the captured length stays where it was.
    static void ExpectNoLateSamples(media::CGrabberCallback* cb) {
        ASSERT_NE(cb, nullptr);
        const std::uint32_t atClose = cb->m_nDataLen.load(std::memory_order_acquire);
        QTest::qWait(300);
        EXPECT_EQ(cb->m_nDataLen.load(std::memory_order_acquire), atClose);
        EXPECT_EQ(cb->Release(), 0u);  // the last reference: the graph let go of it
    }

    TempDir dir{"vurma_close_real"};
    RecordReports reports;
    std::string path;
};

TEST_F(CloseUnderLoad, ClosingWhileThePlayingFileIsCaptured) {
    auto d = std::make_unique<app::CAnalyzerDlg>(media::CreateGstEngine());
    d->show();
    media::CGrabberCallback* cb = OpenAndHold(*d);
    ASSERT_EQ(d->m_nPlayState, 3);
    d->close();
    ExpectNoLateSamples(cb);
    d.reset();
    EXPECT_TRUE(reports.texts.empty()) << reports.texts.front();
}

TEST_F(CloseUnderLoad, ClosingWhilePausedDuringTheCapture) {
    auto d = std::make_unique<app::CAnalyzerDlg>(media::CreateGstEngine());
    d->show();
    media::CGrabberCallback* cb = OpenAndHold(*d);
    d->OnPause();
    ASSERT_EQ(d->m_nPlayState, 2);
    d->close();
    ExpectNoLateSamples(cb);
}

TEST_F(CloseUnderLoad, DestroyingTheWindowWithoutACloseRequest) {
    auto d = std::make_unique<app::CAnalyzerDlg>(media::CreateGstEngine());
    d->show();
    media::CGrabberCallback* cb = OpenAndHold(*d);
    d.reset();  // the destructor runs the shutdown itself
    ExpectNoLateSamples(cb);
}

TEST_F(CloseUnderLoad, ClosingRightAfterTheOpen) {
    // No wait: the close may come before the first buffer or during it.
    for (int i = 0; i < 3; ++i) {
        auto d = std::make_unique<app::CAnalyzerDlg>(media::CreateGstEngine());
        d->OpenMediaFile(QString::fromStdString(path));
        d->close();
        d.reset();
    }
    EXPECT_TRUE(reports.texts.empty()) << reports.texts.front();
}

}  // namespace
}  // namespace vurma::reliability
