#include "decode_whole.h"

#include <atomic>

#include "analysis/report_error.h"
#include "analysis/ui_text.h"
#include "capture_run.h"
#include "engine.h"
#include "grabber_callback.h"
#include "media_session.h"

namespace vurma {

namespace {
constexpr char kMsgDecodeError[] = UI_TEXT("ﾌｧｲﾙの読み込み中にｴﾗｰが発生しました。  ");
}

bool DecodeWhole(const std::shared_ptr<media::IEngine>& engine, media::MediaSession& session,
                 const std::string& path, std::chrono::milliseconds stallLimit,
                 media::LoadedMedia* loaded, media::CGrabberCallback** callback,
                 const CaptureWatcher& watcher) {
    if (media::Failed(session.CreateGraph())) return false;  // already reported
    session.SetUnsynchronised(true);
    session.SetCaptureInGraph(false);

    // The load reads the format and sizes the CaptureBlock; the capture
    // decodes the whole file unpaced. A run that stalls is given one fresh
    // load before the decode gives up.
    media::CGrabberCallback* cb = nullptr;
    media::CaptureRun capture(engine);
    for (int attempt = 1;; ++attempt) {
        if (media::Failed(session.LoadMediaFile(path, loaded))) return false;
        cb = session.callback();
        if (cb == nullptr || loaded->sampleRate <= 0 || loaded->channels <= 0) {
            ReportError(kMsgDecodeError);
            return false;
        }
        const media::WaveFormat format{loaded->channels, loaded->bitsPerSample, loaded->sampleRate};
        media::CaptureEnd end = media::CaptureEnd::Failed;
        if (media::Succeeded(capture.Start(path, format, cb, nullptr, stallLimit))) {
            if (watcher) watcher(cb, *loaded);
            end = capture.Wait();
        }
        if (end == media::CaptureEnd::Complete) break;
        if (watcher) watcher(nullptr, *loaded);  // the next load frees this capture
        capture.Stop();
        if (end != media::CaptureEnd::Stalled || attempt == 2) {
            ReportError(kMsgDecodeError);
            return false;
        }
    }
    // Finish the capture: nothing more is appended once the flag is clear.
    cb->m_bCapture.store(0, std::memory_order_release);
    capture.Stop();
    *callback = cb;
    return true;
}

}  // namespace vurma
