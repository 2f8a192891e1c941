// Decodes a whole media file without a window or sound, for the command-line
// modes: load, capture unpaced, one fresh load when the decode stalls.
//
// Runs on the calling (headless main) thread; the engine's streaming thread
// only feeds the capture.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace vurma {

namespace media {
class CGrabberCallback;
class IEngine;
class MediaSession;
struct LoadedMedia;
}  // namespace media

// Told when a capture starts (with its callback, whose bytes may be read
// below its data length while it grows) and when it is dropped (null).
using CaptureWatcher =
    std::function<void(media::CGrabberCallback* callback, const media::LoadedMedia& loaded)>;

// Loads the file into the session and decodes it whole without sound; the
// capture is finished afterwards. Every failure is
// reported through ReportError; returns false then.
bool DecodeWhole(const std::shared_ptr<media::IEngine>& engine, media::MediaSession& session,
                 const std::string& path, std::chrono::milliseconds stallLimit,
                 media::LoadedMedia* loaded, media::CGrabberCallback** callback,
                 const CaptureWatcher& watcher = {});

}  // namespace vurma
