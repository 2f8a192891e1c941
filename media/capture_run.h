// The capture of a loaded file: its whole audio decoded as fast as the
// decoder goes, apart from playback, into the load's CaptureBlock. The window
// runs it beside the playing graph; the command line runs it alone.
//
// Start, Stop, TakeEnd and Wait run on one thread (GUI or headless main);
// the decode feeds the CaptureBlock on its streaming thread under the
// CaptureBlock protocol, and a watchdog thread ends a run that makes no
// progress for the stall limit.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine.h"
#include "hresult.h"

namespace vurma::media {

class CGrabberCallback;

enum class CaptureEnd {
    Running,   // still decoding
    Complete,  // the end of the stream was reached
    Failed,    // the decoder reported an error
    Stalled,   // no progress for the stall limit
    Stopped,   // stopped by the program before its end
};

class CaptureRun {
  public:
    static constexpr std::chrono::milliseconds kStallLimit{5000};

    explicit CaptureRun(std::shared_ptr<IEngine> engine);
    ~CaptureRun();  // Stop()
    CaptureRun(const CaptureRun&) = delete;
    CaptureRun& operator=(const CaptureRun&) = delete;

    // Stops any earlier run, then decodes `path` in `format` into `block`,
    // holding a reference to it until Stop. `notify` is called on any thread
    // once the run has ended; it must only post a message. Negative when the
    // decode cannot start (nothing is reported).
    HRESULT Start(const std::string& path, const WaveFormat& format, CGrabberCallback* block,
                  std::function<void()> notify, std::chrono::milliseconds stallLimit = kStallLimit);
    // Ends the decode and the watchdog; nothing reaches the block afterwards.
    void Stop();

    // Complete frames in the block so far (0 without a run).
    std::uint32_t FramesCaptured() const;
    // How the run ended, handed out once (false while it runs, after it was
    // taken, and for a run the program stopped).
    bool TakeEnd(CaptureEnd* end);
    // Blocks until the run ends (headless use).
    CaptureEnd Wait();
    bool active() const { return block_ != nullptr; }

  private:
    void End(CaptureEnd end);
    void Watch(std::chrono::milliseconds stallLimit);

    std::shared_ptr<IEngine> engine_;
    std::shared_ptr<IAudioDecode> decode_;
    CGrabberCallback* block_ = nullptr;  // one reference while active
    WaveFormat format_;
    std::thread watchdog_;

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    CaptureEnd end_ = CaptureEnd::Stopped;  // guarded by mutex_
    bool taken_ = true;                     // guarded by mutex_
    std::function<void()> notify_;          // guarded by mutex_
};

}  // namespace vurma::media
