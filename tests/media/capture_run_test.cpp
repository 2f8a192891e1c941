// The capture run on the scripted engine: its end is handed out once, a run
// without progress ends as stalled, and a stopped run lets go of its block.
#include "media/capture_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "fake_engine.h"
#include "media/grabber_callback.h"

namespace vurma::media {
namespace {

struct CaptureRunTest : ::testing::Test {
    CaptureRunTest() {
        block->AddRef();
        block->SetCaptureBuffer(4000);
        block->m_bCapture.store(1);
    }
    ~CaptureRunTest() override { block->Release(); }

    std::shared_ptr<FakeEngine> engine = std::make_shared<FakeEngine>();
    CGrabberCallback* block = new CGrabberCallback();
    std::atomic<int> notified{0};
    std::function<void()> notify = [this] { ++notified; };
};

TEST_F(CaptureRunTest, TheEndIsHandedOutOnceAndAStoppedRunReportsNothing) {
    CaptureRun run(engine);
    ASSERT_EQ(run.Start("/a.wav", {2, 16, 44100}, block, notify), S_OK);
    EXPECT_TRUE(run.active());
    ASSERT_TRUE(engine->FeedSample(0.0, std::vector<std::uint8_t>(4 * 300 + 2, 1)));
    EXPECT_EQ(run.FramesCaptured(), 300u);
    CaptureEnd end = CaptureEnd::Running;
    EXPECT_FALSE(run.TakeEnd(&end));
    ASSERT_TRUE(engine->EndCapture(E_FAIL));
    EXPECT_FALSE(engine->EndCapture(S_OK));  // one end only
    EXPECT_EQ(notified.load(), 1);
    EXPECT_EQ(run.Wait(), CaptureEnd::Failed);
    ASSERT_TRUE(run.TakeEnd(&end));
    EXPECT_EQ(end, CaptureEnd::Failed);
    EXPECT_FALSE(run.TakeEnd(&end));

    // Restarted, then stopped by the program: nothing more arrives or is reported.
    ASSERT_EQ(run.Start("/a.wav", {2, 16, 44100}, block, notify), S_OK);
    run.Stop();
    EXPECT_FALSE(run.active());
    EXPECT_FALSE(engine->FeedSample(1.0, std::vector<std::uint8_t>(400, 1)));
    EXPECT_FALSE(run.TakeEnd(&end));
    EXPECT_EQ(notified.load(), 1);
    EXPECT_EQ(engine->decode(), nullptr);  // the decode is released
    EXPECT_EQ(block->AddRef(), 2u);        // only the test's references are left
    block->Release();
}

// The watchdog looks at the decode's progress several times while samples
// arrive; an end delivered then (under the decode's own lock) gets through.
TEST_F(CaptureRunTest, AnEndArrivingWhileTheWatchdogLooksIsDelivered) {
    CaptureRun run(engine);
    ASSERT_EQ(run.Start("/a.wav", {1, 8, 8000}, block, notify, std::chrono::milliseconds(1000)),
              S_OK);
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(engine->FeedSample(i, std::vector<std::uint8_t>(10, 1)));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(engine->EndCapture(S_OK));
    EXPECT_EQ(run.Wait(), CaptureEnd::Complete);
}

TEST_F(CaptureRunTest, ARunWithoutProgressEndsAsStalledAndOneThatFailsToStartLeavesNothing) {
    CaptureRun run(engine);
    ASSERT_EQ(run.Start("/a.wav", {1, 8, 8000}, block, notify, std::chrono::milliseconds(100)),
              S_OK);
    EXPECT_EQ(run.Wait(), CaptureEnd::Stalled);
    EXPECT_EQ(notified.load(), 1);
    run.Stop();

    engine->FailCall("Decode.Start", E_FAIL);
    EXPECT_EQ(run.Start("/a.wav", {1, 8, 8000}, block, notify), E_FAIL);
    EXPECT_FALSE(run.active());
    CaptureEnd end;
    EXPECT_FALSE(run.TakeEnd(&end));
}

}  // namespace
}  // namespace vurma::media
