#include "async_load.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>

#include "analysis/ui_text.h"
#include "background.h"

namespace vurma::media {

namespace {
constexpr char kMsgCannotProcess[] = UI_TEXT("このﾌｧｲﾙは処理できません。  ");
constexpr char kMsgLoadTimedOut[] = UI_TEXT("%d秒たってもﾃﾞｰﾀが届きません。");
}  // namespace

std::chrono::milliseconds LoadTimeout() {
    if (const char* text = std::getenv("VURMA_LOAD_TIMEOUT_MS")) {
        char* end = nullptr;
        const long ms = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && ms > 0) return std::chrono::milliseconds(ms);
    }
    return std::chrono::seconds(30);
}

void ReportLoadTimedOut(const std::string& path, std::chrono::milliseconds timeout) {
    const long long seconds = (timeout.count() + 999) / 1000;
    char reason[256];
    std::snprintf(reason, sizeof reason, UiText(kMsgLoadTimedOut).c_str(),
                  static_cast<int>(seconds));
    ReportError(ReportDetails{path + "\n" + reason}, kMsgCannotProcess);
}

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
        // Bounded by the caller, who does not wait for it.
        outcome.session->SetLoadTimeout(std::chrono::milliseconds(0));
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
