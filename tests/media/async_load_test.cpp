// The background load on the scripted engine: the outcome comes back once,
// with the load's reports held for the caller; an abandoned load, even one
// stuck in the framework, reports nothing and leaves nothing behind. A
// blocking load gives up after its timeout; the command queue runs the
// graph's changes in order without its caller waiting.
#include "media/async_load.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

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

// The headless load blocks for at most its timeout: a file stuck in the
// framework is refused with the usual message, the file and the reason.
TEST(AsyncLoadTest, ABlockingLoadIsRefusedAfterItsTimeout) {
    test::ReportRecorder rec;
    auto engine = std::make_shared<FakeEngine>();
    engine->AddFile("/stuck.wav", {.renderHangs = true});
    engine->AddFile("/a.wav", {});
    {
        MediaSession session(engine);
        session.SetLoadTimeout(100ms);
        LoadedMedia media;
        EXPECT_TRUE(Failed(session.LoadMediaFile("/stuck.wav", &media)));
        EXPECT_EQ(rec.texts, std::vector<std::string>{"このﾌｧｲﾙは処理できません。  "});
        EXPECT_EQ(rec.details,
                  std::vector<std::string>{"/stuck.wav\n1秒たってもﾃﾞｰﾀが届きません。"});
        EXPECT_EQ(session.callback(), nullptr);
        // The same session loads the next file as usual.
        rec.texts.clear();
        rec.details.clear();
        EXPECT_EQ(session.LoadMediaFile("/a.wav", &media), S_OK);
        EXPECT_EQ(media.channels, 2);
        EXPECT_NE(session.callback(), nullptr);
        EXPECT_TRUE(rec.texts.empty());
    }
    engine->ReleaseRenders();
    ASSERT_TRUE(WaitForDetachedJobs(5s));
    EXPECT_EQ(engine->liveGraphs(), 0);
}

// In order, off the caller's thread; a waiting job of a key gives way to a
// newer one; a hung job holds back only the jobs behind it; Close drops what
// waits, waits for the running job and ignores later posts.
TEST(CommandQueueTest, RunsInOrderCoalescesAndClosesAfterTheRunningJob) {
    std::mutex mutex;
    std::vector<int> ran;
    auto record = [&](int n) {
        return [&, n] {
            std::lock_guard lock(mutex);
            ran.push_back(n);
        };
    };
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    std::promise<void> started;
    CommandQueue queue;
    queue.Post([&, opened] {
        started.set_value();
        opened.wait();
        record(0)();
    });
    queue.Post(record(1));
    queue.Post(record(2), 7);
    queue.Post(record(3), 7);  // replaces 2
    queue.Post(record(4));
    started.get_future().wait();
    EXPECT_FALSE(queue.idle());
    EXPECT_FALSE(queue.WaitIdle(20ms));
    gate.set_value();
    ASSERT_TRUE(queue.WaitIdle(5s));
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 3, 4}));

    std::promise<void> gate2, started2;
    std::shared_future<void> opened2 = gate2.get_future().share();
    queue.Post([&, opened2] {
        started2.set_value();
        opened2.wait();
        record(5)();
    });
    queue.Post(record(6));
    started2.get_future().wait();
    // Close drops 6 at once, then waits for 5, whenever it is let go.
    std::thread opener([&] {
        std::this_thread::sleep_for(20ms);
        gate2.set_value();
    });
    queue.Close();
    opener.join();
    queue.Post(record(7));
    EXPECT_TRUE(queue.idle());
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 3, 4, 5}));
    EXPECT_TRUE(WaitForDetachedJobs(5s));
}

}  // namespace
}  // namespace vurma::media
