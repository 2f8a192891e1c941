// A whole-file decode that hands the PCM to a consumer as it is decoded,
// instead of keeping it: the headless commands use it to analyse files of
// any length in bounded memory.
//
// The file is loaded as the window loads it (MediaSession: format, length,
// recording information), then decoded unsynchronised, without sound, by the
// engine's capture decode (IAudioDecode). Every decoded buffer the capture
// would keep is passed on instead, cut at whole frames.
//
// Threads:
//   - Open, Start, Wait and Stop run on one controlling thread (the headless
//     main thread or a worker of its own). Open and Wait block; never call
//     them on the GUI thread.
//   - The consumer runs on the decoder's streaming thread, one chunk at a
//     time, in file order. The decoder waits while it runs, so a slow
//     consumer slows the decode down rather than piling up data.
//
// Lifetime: the consumer is called only between Start and the return of
// Wait or Stop; after either returns it is never called again, and the
// chunk's bytes are valid only during the call.
//
// Errors are return codes. A file the load refuses has been reported by the
// load itself through ReportError (its usual messages: no sound, no memory,
// cannot be processed); every other failure is only returned, for the caller
// to report in its own words.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "engine.h"
#include "hresult.h"
#include "media_session.h"

namespace vurma::media {

// Decoded PCM: whole interleaved frames in the stream's WaveFormat (8-bit
// unsigned, 16-, 24- (3 bytes) or 32-bit signed little-endian samples).
struct PcmChunk {
    const std::uint8_t* data = nullptr;
    std::size_t frames = 0;
    std::uint64_t firstFrame = 0;  // index of data's first frame in the file
};

// Takes one chunk (streaming thread). False ends the decode early
// (PcmEnd::Cancelled): the consumer has seen enough or cannot go on.
using PcmConsumer = std::function<bool(const PcmChunk& chunk)>;

enum class PcmEnd {
    Running,    // still decoding
    Complete,   // the end of the stream was reached: every frame was delivered
    Refused,    // the load refused the file (already reported)
    Failed,     // the decode could not start, or the decoder reported an error
    Stalled,    // no progress for the stall limit (after one fresh attempt)
    Cancelled,  // the consumer returned false
    Stopped,    // Stop was called before the end
};

class PcmStream {
  public:
    static constexpr std::chrono::milliseconds kStallLimit{5000};

    explicit PcmStream(std::shared_ptr<IEngine> engine);
    ~PcmStream();  // Stop()
    PcmStream(const PcmStream&) = delete;
    PcmStream& operator=(const PcmStream&) = delete;

    // Loads the file (blocking): its format, announced length and
    // information go to *loaded. The load's capture block is given back at
    // once; nothing of the file is kept. Negative when refused (reported).
    HRESULT Open(const std::string& utf8Path, LoadedMedia* loaded);

    // The format of the opened file (channels 0 before a successful Open).
    WaveFormat format() const { return format_; }

    // Starts decoding the opened file into `consumer`. A run that makes no
    // progress for `stallLimit` is started once more if nothing has been
    // delivered yet, else ends as stalled. Negative when the decode cannot
    // start (nothing is delivered then).
    HRESULT Start(PcmConsumer consumer, std::chrono::milliseconds stallLimit = kStallLimit);

    // Blocks until the run ends, then stops the decode. Complete means every
    // decoded frame was delivered. Returns Stopped without a run.
    PcmEnd Wait();

    // Ends the decode before its end (no-op without a run).
    void Stop();

    // Frames delivered so far (any thread).
    std::uint64_t framesDelivered() const;

  private:
    class Sink;
    HRESULT StartDecode();
    void StopDecode();
    void End(PcmEnd end);

    std::shared_ptr<IEngine> engine_;
    std::unique_ptr<MediaSession> session_;
    std::string path_;
    WaveFormat format_;
    PcmConsumer consumer_;
    std::chrono::milliseconds stallLimit_ = kStallLimit;
    std::shared_ptr<IAudioDecode> decode_;
    Sink* sink_ = nullptr;  // one reference while a decode runs
    std::atomic<std::uint64_t> delivered_{0};

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    PcmEnd end_ = PcmEnd::Stopped;  // guarded by mutex_
};

// The whole decode in one call, for headless commands: Open, then
// `begin(loaded)` on the calling thread (it sets up the consumer for the
// format; false ends with Cancelled before decoding), then Start and Wait.
// *loaded is filled as far as the load got.
PcmEnd StreamWholeFile(const std::shared_ptr<IEngine>& engine, const std::string& utf8Path,
                       LoadedMedia* loaded, const std::function<bool(const LoadedMedia&)>& begin,
                       PcmConsumer consumer,
                       std::chrono::milliseconds stallLimit = PcmStream::kStallLimit);

}  // namespace vurma::media
