#include "analysis/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace vurma {
namespace {

TEST(WorkerPool, ParallelForRunsEachIndexOnceAndNests) {
    WorkerPool pool(2, false);
    std::vector<std::atomic<int>> hits(100);
    pool.ParallelFor(100, [&](int i) {
        hits[i].fetch_add(1);
        // A body may itself fan out; the caller takes part, so this cannot starve.
        if (i == 0) pool.ParallelFor(10, [](int) {});
    });
    for (auto& h : hits) EXPECT_EQ(h.load(), 1);
    // Helpers that found no index left finish on their own.
    while (pool.Busy() != 0) std::this_thread::yield();
}

TEST(WorkerPool, PostedTasksRunAndTheDestructorDropsTheRest) {
    std::atomic<int> ran{0};
    {
        WorkerPool pool(1, true);
        std::atomic<bool> release{false};
        pool.Post([&] {
            while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ran.fetch_add(1);
        });
        for (int i = 0; i < 5; ++i) pool.Post([&] { ran.fetch_add(10); });
        while (pool.Busy() != 6) std::this_thread::yield();
        release = true;
        while (pool.Busy() != 0) std::this_thread::yield();
        EXPECT_EQ(ran.load(), 51);
        pool.Post([&] { std::this_thread::sleep_for(std::chrono::milliseconds(5)); });
    }
    EXPECT_GE(WorkerPool::CoreCount(), 1);
}

}  // namespace
}  // namespace vurma
