#include "background.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "analysis/report_error.h"

namespace vurma::media {
namespace {
struct Jobs {
    std::mutex mutex;
    std::condition_variable idle;
    std::size_t running = 0;
};

// Never destroyed: a job abandoned at exit may still finish afterwards.
Jobs& TheJobs() {
    static Jobs* jobs = new Jobs;
    return *jobs;
}
}  // namespace

void RunDetached(std::function<void()> job) {
    Jobs& jobs = TheJobs();
    {
        std::lock_guard lock(jobs.mutex);
        ++jobs.running;
    }
    std::thread([job = std::move(job), &jobs]() mutable {
        // Diagnostics of a teardown have nobody to show them to.
        SetThreadReportSink([](const Report&) {});
        job();
        job = nullptr;  // whatever the job held goes before it counts as done
        std::lock_guard lock(jobs.mutex);
        if (--jobs.running == 0) jobs.idle.notify_all();
    }).detach();
}

std::size_t DetachedJobsRunning() {
    Jobs& jobs = TheJobs();
    std::lock_guard lock(jobs.mutex);
    return jobs.running;
}

bool WaitForDetachedJobs(std::chrono::milliseconds timeout) {
    Jobs& jobs = TheJobs();
    std::unique_lock lock(jobs.mutex);
    return jobs.idle.wait_for(lock, timeout, [&] { return jobs.running == 0; });
}

struct CommandQueue::State {
    mutable std::mutex mutex;
    mutable std::condition_variable idle;
    std::deque<std::pair<int, std::function<void()>>> jobs;  // guarded by mutex
    bool running = false;                                    // a thread drains the queue
    bool closed = false;

    static void Drain(const std::shared_ptr<State>& s) {
        std::unique_lock lock(s->mutex);
        while (!s->jobs.empty() && !s->closed) {
            std::function<void()> job = std::move(s->jobs.front().second);
            s->jobs.pop_front();
            lock.unlock();
            job();
            job = nullptr;
            lock.lock();
        }
        s->running = false;
        s->idle.notify_all();
    }
};

CommandQueue::CommandQueue() : state_(std::make_shared<State>()) {}

CommandQueue::~CommandQueue() { Close(); }

void CommandQueue::Post(std::function<void()> job, int key) {
    std::lock_guard lock(state_->mutex);
    if (state_->closed) return;
    auto& jobs = state_->jobs;
    if (key != 0 && !jobs.empty() && jobs.back().first == key) {
        jobs.back().second = std::move(job);
    } else {
        jobs.emplace_back(key, std::move(job));
    }
    if (state_->running) return;
    state_->running = true;
    RunDetached([s = state_] { State::Drain(s); });
}

bool CommandQueue::idle() const {
    std::lock_guard lock(state_->mutex);
    return !state_->running;
}

bool CommandQueue::WaitIdle(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(state_->mutex);
    return state_->idle.wait_for(lock, timeout, [this] { return !state_->running; });
}

void CommandQueue::Close() {
    std::deque<std::pair<int, std::function<void()>>> dropped;
    std::unique_lock lock(state_->mutex);
    state_->closed = true;
    dropped.swap(state_->jobs);
    state_->idle.wait(lock, [this] { return !state_->running; });
}

}  // namespace vurma::media
