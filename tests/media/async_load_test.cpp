// The background load on the scripted engine: the outcome comes back once,
// with the load's reports held for the caller; an abandoned load, even one
// stuck in the framework, reports nothing and leaves nothing behind.
#include "media/async_load.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "fake_engine.h"
#include "media/background.h"
#include "test_support.h"

namespace vurma::media {
namespace {

using namespace std::chrono_literals;

struct Done {
    std::mutex mutex;
    std::condition_variable cv;
    int calls = 0;
    std::function<void()> Notify() {
        return [this] {
            std::lock_guard lock(mutex);
            ++calls;
            cv.notify_all();
        };
    }
    bool Wait() {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, 5s, [this] { return calls > 0; });
    }
};

TEST(AsyncLoadTest, TheOutcomeComesBackOnceWithItsReports) {
    test::ReportRecorder rec;
    auto engine = std::make_shared<FakeEngine>();
    engine->AddFile("/a.wav", {});
    engine->AddFile("/b.wav", {.renderResult = E_FAIL, .renderReason = "Bad header."});
    for (const char* path : {"/a.wav", "/b.wav"}) {
        SCOPED_TRACE(path);
        AsyncLoad load;
        Done done;
        load.Start(
            engine, path, [](MediaSession& s) { s.SetCaptureInGraph(false); }, done.Notify());
        EXPECT_TRUE(load.pending());
        ASSERT_TRUE(done.Wait());
        LoadOutcome outcome;
        ASSERT_TRUE(load.Take(&outcome));
        EXPECT_FALSE(load.pending());
        EXPECT_FALSE(load.Take(&outcome));
        ASSERT_NE(outcome.session, nullptr);
        if (std::string(path) == "/a.wav") {
            EXPECT_EQ(outcome.hr, S_OK);
            EXPECT_NE(outcome.session->callback(), nullptr);
            EXPECT_EQ(outcome.media.channels, 2);
            EXPECT_TRUE(outcome.reports.empty());
        } else {
            EXPECT_EQ(outcome.hr, E_FAIL);
            ASSERT_EQ(outcome.reports.size(), 1u);
            EXPECT_EQ(outcome.reports[0].text, "このﾌｧｲﾙは処理できません。  ");
            EXPECT_EQ(outcome.reports[0].details, "/b.wav\nBad header.");
        }
        EXPECT_EQ(done.calls, 1);
    }
    EXPECT_TRUE(rec.texts.empty());  // held for the caller, not shown
    EXPECT_TRUE(WaitForDetachedJobs(5s));
}

TEST(AsyncLoadTest, AnAbandonedLoadIsNeverHeardOfAndLeavesNothingBehind) {
    test::ReportRecorder rec;
    auto engine = std::make_shared<FakeEngine>();
    engine->AddFile("/stuck.wav", {.renderResult = E_FAIL, .renderHangs = true});
    Done done;
    {
        AsyncLoad load;
        load.Start(engine, "/stuck.wav", nullptr, done.Notify());
        while (engine->rendersHeld() == 0) std::this_thread::sleep_for(1ms);
        load.Abandon();
        EXPECT_FALSE(load.pending());
        // A second load replaces a stuck one the same way; the destructor abandons it.
        load.Start(engine, "/stuck.wav", nullptr, done.Notify());
    }
    EXPECT_EQ(DetachedJobsRunning(), 2u);
    engine->ReleaseRenders();
    ASSERT_TRUE(WaitForDetachedJobs(5s));
    EXPECT_EQ(done.calls, 0);
    EXPECT_EQ(engine->liveGraphs(), 0);
    EXPECT_TRUE(rec.texts.empty());
}

}  // namespace
}  // namespace vurma::media
