// Closing the window in every state: the window lets go of everything at
// once, the graph is stopped and torn down in the background, and afterwards
// no sample reaches any capture. On the real engine the close comes while the streaming thread is
// appending (under AddressSanitizer a late callback would be caught).
#include <QAction>
#include <QTimer>
#include <functional>
#include <memory>

#include "fake_engine.h"
#include "hostile_corpus.h"
#include "media/background.h"
#include "media/media_session.h"
#include "window_util.h"

namespace vurma::reliability {
namespace {

std::vector<std::uint8_t> Pcm16(int frames) {
    return test::Pcm(16, std::vector<std::int32_t>(static_cast<std::size_t>(frames) * 2, 1000));
}

// The window on the scripted engine, with a probe on the graph's Stop.
struct Rig {
    Rig() {
        dlg = std::make_unique<app::test::TestDialog>(fake);
        dlg->show();
    }
    // Opens a scripted file, feeds it `frames` of capture and maybe pauses.
    void Open(const std::string& name, int frames, media::FakeFile file = {}, bool pause = false) {
        const std::string path = dir / name;
        WriteBytes(path, "");
        fake->AddFile(path, file);
        vurma::test::OpenAndWait(*dlg, QString::fromStdString(path));
        if (frames > 0) fake->FeedSample(0.0, Pcm16(frames));
        if (pause) dlg->OnPause();
    }
    void FailAfterPlaying() {
        Open("a.wav", 4096);
        Open("broken.wav", 0, {.renderResult = media::E_FAIL});
    }
    void QueueEnd() {
        Open("a.wav", 4096);
        fake->PostComplete();
    }
    // A file captured to its end and played to its end.
    app::test::TestDialog* Captured() {
        Open("a.wav", 44100);
        fake->EndCapture();
        fake->PostComplete();
        QCoreApplication::processEvents();
        return dlg.get();
    }

    test::ScratchDir dir{"close"};
    std::shared_ptr<media::FakeEngine> fake = std::make_shared<media::FakeEngine>();
    std::unique_ptr<app::test::TestDialog> dlg;
};

TEST(CloseInEveryState, TheGraphStopsFirstAndNothingIsLeftBehind) {
    test::EnsureApp();
    const struct {
        std::string state;
        std::function<void(Rig&)> enter;
        int playState;         // before the close; -1: not checked
        bool stopsWithWindow;  // exactly one Stop
        std::vector<std::string> reports;
    } states[] = {
        {"no file", [](Rig&) {}, 0, false, {}},
        {"playing, capturing", [](Rig& r) { r.Open("a.wav", 4096); }, 3, true, {}},
        {"paused, capturing", [](Rig& r) { r.Open("a.wav", 4096, {}, true); }, 2, true, {}},
        {"rewound, capturing",
         [](Rig& r) {
             r.Open("a.wav", 4096);
             r.dlg->OnRewind();
         },
         1,
         true,
         {}},
        {"playing after the capture", [](Rig& r) { r.Captured()->OnPlay(); }, 3, true, {}},
        {"stopped after the capture", [](Rig& r) { r.Captured(); }, 1, false, {}},
        {"failed load", [](Rig& r) { r.FailAfterPlaying(); }, 0, false, {kMsgCannotProcess}},
        // The end of the media is posted; the close runs before it is delivered.
        {"end of media queued", [](Rig& r) { r.QueueEnd(); }, 3, false, {}},
    };
    for (const auto& s : states) {
        SCOPED_TRACE(s.state);
        test::ReportRecorder reports;
        Rig r;
        s.enter(r);
        ASSERT_EQ(r.dlg->m_nPlayState, s.playState);
        ASSERT_TRUE(media::WaitForDetachedJobs(std::chrono::seconds(5)));
        r.fake->ClearCalls();
        r.dlg->close();
        EXPECT_TRUE(r.dlg->m_bShutDown);
        EXPECT_FALSE(r.dlg->isVisible());
        EXPECT_EQ(r.dlg->m_pWindowed, nullptr);
        EXPECT_EQ(r.dlg->m_model->block(), nullptr);
        EXPECT_FALSE(r.dlg->m_timer->isActive());
        ASSERT_TRUE(media::WaitForDetachedJobs(std::chrono::seconds(5)));
        EXPECT_EQ(r.fake->liveGraphs(), 0);
        const int stops = r.fake->CallCount("Graph.Stop");
        EXPECT_TRUE(!s.stopsWithWindow || stops == 1) << stops;
        QCoreApplication::processEvents();  // the queued end of media finds nothing to finish
        EXPECT_EQ(r.dlg->m_samples.data(), nullptr);
        EXPECT_EQ(r.dlg->m_bLoaded, s.state.ends_with("after the capture"));
        // No capture is left to receive anything.
        EXPECT_FALSE(r.fake->FeedSample(99.0, Pcm16(512)));
        EXPECT_EQ(reports.texts, s.reports);
    }
}

// The real engine: the close comes while the streaming thread appends.
TEST(CloseUnderLoad, NoSampleArrivesAfterTheCloseInAnyState) {
    test::EnsureApp();
    test::ReportRecorder reports;
    test::ScratchDir dir("close-real");
    const QString path = QString::fromStdString(dir / "two seconds.wav");
    ASSERT_TRUE(WriteWav(dir / "two seconds.wav", {.frames = 88200}));
    const std::pair<const char*, std::function<void(std::unique_ptr<app::test::TestDialog>&)>>
        closes[] = {
            {"playing", [](auto& d) { d->close(); }},
            {"paused",
             [](auto& d) {
                 d->OnPause();
                 ASSERT_EQ(d->m_nPlayState, 2);
                 d->close();
             }},
            {"destroyed without a close request", [](auto& d) { d.reset(); }},
        };
    for (const auto& [state, close] : closes) {
        SCOPED_TRACE(state);
        auto d = std::make_unique<app::test::TestDialog>(media::CreateGstEngine());
        d->show();
        vurma::test::OpenAndWait(*d, path);
        ASSERT_TRUE(WaitForCapturing(*d));
        ASSERT_EQ(d->m_nPlayState, 3);
        // The capture is kept alive past the close, to see whether anything still reaches it.
        media::CGrabberCallback* cb = d->m_model->block();
        cb->AddRef();
        close(d);
        const std::uint32_t atClose = cb->m_nDataLen.load(std::memory_order_acquire);
        QTest::qWait(300);
        EXPECT_EQ(cb->m_nDataLen.load(std::memory_order_acquire), atClose);
        d.reset();
        EXPECT_EQ(cb->Release(), 0u);  // the last reference: the graph let go of it
    }
    // No wait: the close may come before the first buffer or during it.
    for (int i = 0; i < 3; ++i) {
        auto d = std::make_unique<app::test::TestDialog>(media::CreateGstEngine());
        d->OpenMediaFile(path);
        d->close();
    }
    EXPECT_EQ(reports.texts, std::vector<std::string>{});
}

}  // namespace
}  // namespace vurma::reliability
