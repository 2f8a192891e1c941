// Work the GUI thread must never wait for: a media pipeline's teardown, a
// load that may hang inside the media framework. Each job runs on a thread
// of its own that nobody joins; a job stuck in a system call (a named pipe
// with no writer, a hung network mount) is thereby abandoned, not waited
// for. The jobs still running are counted, so tests and shutdown can see
// that nothing was left behind.
//
// Any thread may call these.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

namespace vurma::media {

// Runs `job` on a new detached thread. Reports made there go nowhere unless
// the job installs a thread report sink.
void RunDetached(std::function<void()> job);

// Destroys `object` on a background thread (a pipeline that may not stop).
template <class T>
void Reap(std::shared_ptr<T> object) {
    if (object == nullptr) return;
    RunDetached([held = std::move(object)]() mutable { held.reset(); });
}
template <class T>
void Reap(std::unique_ptr<T> object) {
    Reap(std::shared_ptr<T>(std::move(object)));
}

// Jobs that must run one after another, in the order given, without the
// caller waiting: a media graph's state changes and seeks. They run on a
// detached thread (RunDetached) that lives while jobs are waiting; a job
// that hangs holds back the jobs behind it, never the caller.
// Post and idle from any thread; Close and the destructor may wait for the
// running job, so they belong on a background thread (Reap) or where no job
// can hang.
class CommandQueue {
  public:
    CommandQueue();
    ~CommandQueue();  // Close()
    CommandQueue(const CommandQueue&) = delete;
    CommandQueue& operator=(const CommandQueue&) = delete;

    // Queues `job`. A non-zero `key` replaces a job of the same key still
    // waiting at the end of the queue (a newer seek makes the older one moot).
    void Post(std::function<void()> job, int key = 0);
    // True when no job waits or runs.
    bool idle() const;
    // Waits until idle or `timeout` has passed; true when idle.
    bool WaitIdle(std::chrono::milliseconds timeout) const;
    // Drops the waiting jobs and waits for the running one; later Posts are ignored.
    void Close();

  private:
    struct State;
    std::shared_ptr<State> state_;
};

// Jobs started and not yet finished.
std::size_t DetachedJobsRunning();

// Waits until no job runs or `timeout` has passed; true when none runs.
bool WaitForDetachedJobs(std::chrono::milliseconds timeout);

}  // namespace vurma::media
