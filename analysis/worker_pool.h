// The process's one pool of worker threads for long computations
// (spectrogram columns, averaged spectra, reports), so that views and
// headless commands never start threads of their own. Toolkit-free.
//
// Post and ParallelFor may be called from any thread; tasks run on the
// pool's threads. The GUI thread only posts (never ParallelFor, which waits).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vurma {

class WorkerPool {
  public:
    // threads >= 1. With lowPriority the workers run at a lower scheduling
    // priority than the rest of the process (playback and capture first).
    WorkerPool(int threads, bool lowPriority);
    // Drops the tasks not started yet, waits for the running ones.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    int threads() const { return static_cast<int>(workers_.size()); }

    // Queues a task (first in, first out).
    void Post(std::function<void()> task);

    // Runs body(0 .. count-1) on the pool and the calling thread, each index
    // once, and returns when all have run. Not for the GUI thread.
    void ParallelFor(int count, const std::function<void(int)>& body);

    // Tasks queued or running (tests check that a hidden view leaves it 0).
    int Busy() const;

    // The shared pool, made on first use with SetSharedThreads' count
    // (default: the core count less one, at least one, at low priority).
    static WorkerPool& Shared();
    // Sets the shared pool's size and priority; only before its first use
    // (the headless commands take every core at normal priority).
    static void SetSharedThreads(int threads, bool lowPriority);
    static int CoreCount();

  private:
    void Run(bool lowPriority);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    int running_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace vurma
