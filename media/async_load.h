// A file load off the GUI thread: the graph is built, prerolled and its
// length probed in a fresh MediaSession on a background thread, and the
// finished session is handed back to the GUI thread. A newer load or the
// window's close abandons a pending one: its session is then torn down on
// its own thread, however long that takes.
//
// Start, Take, Abandon and pending run on the GUI thread (or the headless
// main thread); the load itself runs on a thread of its own (background.h).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "analysis/report_error.h"
#include "engine.h"
#include "media_session.h"

namespace vurma::media {

// How long a load may take before it is refused: 30 s (above the engine's
// own wait for data), or the milliseconds in VURMA_LOAD_TIMEOUT_MS.
std::chrono::milliseconds LoadTimeout();

// Refuses `path` after a load that did not finish within `timeout`: the
// usual message, with the file's name and the reason as its details.
void ReportLoadTimedOut(const std::string& path, std::chrono::milliseconds timeout);

struct LoadOutcome {
    HRESULT hr = E_FAIL;
    LoadedMedia media;
    std::unique_ptr<MediaSession> session;  // the file's graph (empty after a refusal)
    std::vector<Report> reports;            // what the load reported, in order
};

class AsyncLoad {
  public:
    AsyncLoad() = default;
    ~AsyncLoad();  // Abandon()
    AsyncLoad(const AsyncLoad&) = delete;
    AsyncLoad& operator=(const AsyncLoad&) = delete;

    // Prepares the fresh session on the load's thread before it loads
    // (video host, event notification, capture mode).
    using Setup = std::function<void(MediaSession& session)>;

    // Abandons any pending load, then loads `path`. `done` is called once on
    // the load's thread when it has finished, unless it was abandoned first;
    // it must only post.
    void Start(std::shared_ptr<IEngine> engine, const std::string& path, Setup setup,
               std::function<void()> done);
    // True from Start until the outcome is taken or the load abandoned.
    bool pending() const;
    // Hands out the finished load's outcome once; false while it runs.
    bool Take(LoadOutcome* out);
    // Forgets the pending load; nothing of it reaches this object again.
    void Abandon();

  private:
    struct Job;
    std::shared_ptr<Job> job_;
};

}  // namespace vurma::media
