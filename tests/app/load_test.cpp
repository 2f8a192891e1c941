// Loading in the background on the scripted engine: a load that hangs in
// the media framework leaves the window usable, yields to a newer open and
// to the close, is refused after the time limit, and nothing of it is left
// running once the framework lets go.
#include <QElapsedTimer>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include "app_test_util.h"
#include "media/background.h"

namespace vurma::app::test {
namespace {

using namespace std::chrono_literals;

class LoadTest : public DialogTest {
  protected:
    void TearDown() override {
        engine->ReleaseRenders();
        DialogTest::TearDown();
        EXPECT_TRUE(media::WaitForDetachedJobs(5s));  // nothing left running
    }
    // Waits until the hanging file's load is inside the framework.
    void WaitUntilHeld() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return engine->rendersHeld() == 1; }, 5000));
    }
};

TEST_F(LoadTest, AHangingLoadLeavesTheWindowUsableAndYieldsToANewerOpen) {
    TestDialog& d = MakeDialog();
    d.show();
    const std::string hung = AddFile("hung.wav", {.renderHangs = true});
    d.OpenMediaFile(QString::fromStdString(hung));
    WaitUntilHeld();
    EXPECT_TRUE(d.loadPending());
    EXPECT_EQ(State(d), "play 0 graph 0 loaded 0 complete 0 samples 0");
    // The menus open while the load hangs.
    QMenu* file = d.m_menuBar->findChildren<QMenu*>().at(0);
    file->popup(d.mapToGlobal(QPoint(0, 0)));
    EXPECT_TRUE(QTest::qWaitFor([&] { return file->isVisible(); }, 1000));
    file->close();
    // Another file opens and plays; the hung one stays abandoned.
    ASSERT_TRUE(vurma::test::OpenAndWait(d, QString::fromStdString(AddFile("next.wav"))));
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Vurma - [next.wav]"));
    EXPECT_EQ(State(d), "play 3 graph 2 loaded 0 complete 0 samples 0 timer capturing");
    engine->ReleaseRenders();
    ASSERT_TRUE(media::WaitForDetachedJobs(5s));
    QCoreApplication::processEvents();
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Vurma - [next.wav]"));
    EXPECT_TRUE(reports.empty());
}

TEST_F(LoadTest, TheCloseAbandonsAHangingLoadAtOnce) {
    TestDialog& d = MakeDialog();
    d.show();
    d.OpenMediaFile(QString::fromStdString(AddFile("hung.wav", {.renderHangs = true})));
    WaitUntilHeld();
    d.close();
    EXPECT_FALSE(d.isVisible());
    EXPECT_FALSE(d.loadPending());
    engine->ReleaseRenders();
    ASSERT_TRUE(media::WaitForDetachedJobs(5s));
    QCoreApplication::processEvents();  // the finished load finds nothing to apply
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Vurma"));
    EXPECT_EQ(engine->liveGraphs(), 0);
    EXPECT_TRUE(reports.empty());
}

// A state change stuck inside the media framework holds only the session's
// command thread: the play state changes at once, the later commands queue
// behind it, a menu opens and the window closes at once.
TEST_F(LoadTest, AHangingStateChangeNeverHoldsTheWindow) {
    TestDialog& d = MakeDialog();
    d.show();
    ASSERT_TRUE(vurma::test::OpenAndWait(d, QString::fromStdString(AddFile("music.wav"))));
    EXPECT_EQ(State(d), "play 3 graph 2 loaded 0 complete 0 samples 0 timer capturing");
    engine->HangCall("Graph.Pause");
    QElapsedTimer clock;
    clock.start();
    d.OnPause();
    EXPECT_EQ(d.m_nPlayState, 2);
    d.OnRewind();
    EXPECT_EQ(d.m_nPlayState, 1);
    EXPECT_EQ(d.m_sliderTime->value(), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return engine->rendersHeld() == 1; }, 5000));
    QMenu* file = d.m_menuBar->findChildren<QMenu*>().at(0);
    file->popup(d.mapToGlobal(QPoint(0, 0)));
    EXPECT_TRUE(QTest::qWaitFor([&] { return file->isVisible(); }, 1000));
    file->close();
    EXPECT_FALSE(d.m_session->commandsIdle());
    d.close();
    EXPECT_FALSE(d.isVisible());
    EXPECT_LT(clock.elapsed(), 1000);
    engine->ReleaseRenders();
    ASSERT_TRUE(media::WaitForDetachedJobs(5s));
    EXPECT_EQ(engine->liveGraphs(), 0);
    EXPECT_TRUE(reports.empty());
}

// The refusals name the file; the details add the decoder's own reason.
TEST_F(LoadTest, ARefusalCarriesTheFileAndTheReason) {
    TestDialog& d = MakeDialog();
    const std::string hung = AddFile("hung.wav", {.renderHangs = true});
    const std::string broken =
        AddFile("broken.wav",
                {.renderResult = media::E_FAIL, .renderReason = "Internal data stream error."});
    const std::string mute = AddFile("mute.avi", {.hasAudio = false, .hasVideo = true});
    const std::string wide = AddFile("wide.wav", {.format = {2, 12, 44100}});
    d.m_nLoadTimeoutMs = 200;
    d.OpenMediaFile(QString::fromStdString(hung));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !reports.empty(); }, 5000));
    EXPECT_FALSE(d.loadPending());
    for (const std::string& path : {broken, mute, wide})
        ASSERT_TRUE(vurma::test::OpenAndWait(d, QString::fromStdString(path)));
    EXPECT_EQ(reports,
              (std::vector<std::string>{
                  "このﾌｧｲﾙは処理できません。  ", "このﾌｧｲﾙは処理できません。  ",
                  "このﾌｧｲﾙには音声が含まれていません。  ", "12ﾋﾞｯﾄのｻﾝﾌﾟﾙは処理できません。  "}));
    EXPECT_EQ(rec_.details,
              (std::vector<std::string>{hung + "\n1秒たってもﾃﾞｰﾀが届きません。",
                                        broken + "\nInternal data stream error.", mute, wide}));
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Vurma"));
    EXPECT_EQ(d.m_nPlayState, 0);
}

// The window's CaptureBlock lives as long as the window points at it, also
// when its graph is gone (under AddressSanitizer a freed block would show).
TEST_F(LoadTest, TheWindowsCaptureBlockOutlivesItsGraph) {
    TestDialog& d = MakeDialog();
    OpenAndFeed(AddFile("a.wav"), 4096);
    media::CGrabberCallback* block = d.m_model->block();
    ASSERT_NE(block, nullptr);
    d.m_session->DestroyGraph();
    EXPECT_EQ(block->m_nDataLen.load(), 4096u * 4);
    EXPECT_EQ(d.m_model->block(), block);
}

}  // namespace
}  // namespace vurma::app::test
