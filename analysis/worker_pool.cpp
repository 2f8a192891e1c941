#include "worker_pool.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>

namespace vurma {

namespace {

std::mutex g_sharedMutex;
int g_sharedThreads = 0;  // 0: the default
bool g_sharedLow = true;

}  // namespace

WorkerPool::WorkerPool(int threads, bool lowPriority) {
    threads = std::max(threads, 1);
    workers_.reserve(threads);
    for (int i = 0; i < threads; ++i)
        workers_.emplace_back([this, lowPriority] { Run(lowPriority); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_all();
    for (std::thread& t : workers_) t.join();
}

void WorkerPool::Post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        queue_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void WorkerPool::Run(bool lowPriority) {
    // Linux gives each thread a nice value of its own.
    if (lowPriority) setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        std::function<void()> task = std::move(queue_.front());
        queue_.pop_front();
        ++running_;
        lock.unlock();
        task();
        task = nullptr;  // destroy what it captured outside the lock
        lock.lock();
        --running_;
    }
}

void WorkerPool::ParallelFor(int count, const std::function<void(int)>& body) {
    if (count <= 0) return;
    struct Shared {
        std::atomic<int> next{0};
        std::atomic<int> left;
        std::mutex mutex;
        std::condition_variable done;
    };
    auto shared = std::make_shared<Shared>();
    shared->left.store(count, std::memory_order_relaxed);
    // Each participant takes the next index until none are left; the caller
    // takes part too, so this finishes even when every worker is busy.
    auto work = [shared, count, &body] {
        for (int i = shared->next.fetch_add(1); i < count; i = shared->next.fetch_add(1)) {
            body(i);
            if (shared->left.fetch_sub(1, std::memory_order_acq_rel) == 1) {
                std::lock_guard lock(shared->mutex);
                shared->done.notify_all();
            }
        }
    };
    const int helpers = std::min(threads(), count - 1);
    for (int i = 0; i < helpers; ++i) Post(work);
    work();
    std::unique_lock lock(shared->mutex);
    shared->done.wait(lock, [&] { return shared->left.load(std::memory_order_acquire) == 0; });
}

int WorkerPool::Busy() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(queue_.size()) + running_;
}

int WorkerPool::CoreCount() {
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

void WorkerPool::SetSharedThreads(int threads, bool lowPriority) {
    std::lock_guard lock(g_sharedMutex);
    g_sharedThreads = threads;
    g_sharedLow = lowPriority;
}

WorkerPool& WorkerPool::Shared() {
    // Made on first use and kept for the process's life: workers may still
    // hold tasks when static destructors run, so it is never destroyed.
    static WorkerPool* pool = [] {
        std::lock_guard lock(g_sharedMutex);
        const int n = g_sharedThreads > 0 ? g_sharedThreads : std::max(1, CoreCount() - 1);
        return new WorkerPool(n, g_sharedLow);
    }();
    return *pool;
}

}  // namespace vurma
