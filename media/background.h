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

// Jobs started and not yet finished.
std::size_t DetachedJobsRunning();

// Waits until no job runs or `timeout` has passed; true when none runs.
bool WaitForDetachedJobs(std::chrono::milliseconds timeout);

}  // namespace vurma::media
