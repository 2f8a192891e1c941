#include "background.h"

#include <condition_variable>
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

}  // namespace vurma::media
