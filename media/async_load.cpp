#include "async_load.h"

#include <mutex>
#include <utility>

#include "background.h"

namespace vurma::media {

struct AsyncLoad::Job {
    std::mutex mutex;
    bool finished = false;   // guarded by mutex
    bool abandoned = false;  // guarded by mutex
    LoadOutcome outcome;     // guarded by mutex
    std::function<void()> done;
};

AsyncLoad::~AsyncLoad() { Abandon(); }

void AsyncLoad::Start(std::shared_ptr<IEngine> engine, const std::string& path, Setup setup,
                      std::function<void()> done) {
    Abandon();
    auto job = std::make_shared<Job>();
    job->done = std::move(done);
    job_ = job;
    RunDetached([job, engine = std::move(engine), path, setup = std::move(setup)] {
        LoadOutcome outcome;
        SetThreadReportSink([&outcome](const Report& r) { outcome.reports.push_back(r); });
        outcome.session = std::make_unique<MediaSession>(engine);
        if (setup) setup(*outcome.session);
        outcome.hr = outcome.session->LoadMediaFile(path, &outcome.media);
        std::unique_ptr<MediaSession> dropped;
        {
            std::lock_guard lock(job->mutex);
            if (job->abandoned) {
                dropped = std::move(outcome.session);
            } else {
                job->outcome = std::move(outcome);
                job->finished = true;
                // Under the lock (it only posts), so that Abandon cannot
                // return while the news is on its way.
                if (job->done) job->done();
            }
            job->done = nullptr;
        }
        // An abandoned graph is torn down here, on the load's own thread.
        SetThreadReportSink([](const Report&) {});
        dropped.reset();
    });
}

bool AsyncLoad::pending() const { return job_ != nullptr; }

bool AsyncLoad::Take(LoadOutcome* out) {
    if (job_ == nullptr) return false;
    std::unique_lock lock(job_->mutex);
    if (!job_->finished) return false;
    if (out != nullptr) *out = std::move(job_->outcome);
    lock.unlock();
    job_.reset();
    return true;
}

void AsyncLoad::Abandon() {
    if (job_ == nullptr) return;
    std::unique_ptr<MediaSession> finishedSession;
    {
        std::lock_guard lock(job_->mutex);
        job_->abandoned = true;
        job_->done = nullptr;
        finishedSession = std::move(job_->outcome.session);
    }
    job_.reset();
    // A load that finished but was never taken: its graph goes in the background.
    Reap(std::move(finishedSession));
}

}  // namespace vurma::media
