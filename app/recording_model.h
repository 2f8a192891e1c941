// The recording the window has open: its file, its format and information
// texts, and its CaptureBlock (the whole decoded audio) with the capture run
// that fills it. Every view reads the recording here and follows it through
// the signals; no view asks another view for it.
//
// Life of a recording:
//   BeginLoading(path)        loading(path)         Stage::Loading
//   StartCapture(loaded, blk) opened()              Stage::Capturing
//                             progress(frames)      every 200 ms while capturing
//                             captureEnded(end)     Stage::Captured (also after a failure:
//                                                   what was captured stays readable)
//   FailLoading(reason)       failed(reason)        Stage::Empty
//   Release() / next file     releasing(), released()  Stage::Empty
//
// Threads: every function and every signal runs on the GUI thread. The
// decode fills the CaptureBlock on its streaming thread; the bytes below
// Pcm().dataLen are complete and may be read by any thread (workers of a
// view) until releasing() is emitted. A view that hands the bytes to worker
// threads must stop them inside its releasing() slot: the bytes are freed
// once the signal returns.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <string>

#include "analysis/sample_store.h"
#include "analysis/spectrogram.h"
#include "media/capture_run.h"

namespace vurma::media {
class CGrabberCallback;
class IEngine;
struct LoadedMedia;
}  // namespace vurma::media

namespace vurma::app {

class RecordingModel : public QObject {
    Q_OBJECT

  public:
    enum class Stage {
        Empty,      // no recording (before the first file, after a refusal or a release)
        Loading,    // a file is being opened; nothing to read yet
        Capturing,  // the format is known and the CaptureBlock is filling
        Captured,   // the capture has ended; Pcm() holds all there will be
    };

    // The recording's format as the decoder delivers it.
    struct Format {
        int channels = 0;
        int bitsPerSample = 0;
        int sampleRate = 0;            // Hz
        std::uint32_t frameCount = 0;  // frames the announced length holds
        std::int64_t startTime = 0;    // playable range, 100 ns units
        std::int64_t endTime = 0;
    };

    explicit RecordingModel(QObject* parent = nullptr);
    ~RecordingModel() override;  // Release()

    // --- Reading (any view) ---
    Stage stage() const { return stage_; }
    // True while a recording can be read (Capturing or Captured).
    bool hasRecording() const { return stage_ == Stage::Capturing || stage_ == Stage::Captured; }
    // The file's absolute path (set from BeginLoading on); empty when Empty.
    const QString& path() const { return path_; }
    // The last part of path().
    QString fileName() const;
    // Date, format and length in three lines: in Japanese as the CSV holds
    // them, and in the interface language as the window shows them.
    const std::string& infoText() const { return infoText_; }
    const QString& shownInfoText() const { return shownInfoText_; }
    const Format& format() const { return format_; }
    // The captured bytes so far (all of them once Captured); empty without a
    // recording.
    PcmView Pcm() const;
    // Complete frames in Pcm().
    std::uint32_t framesCaptured() const;
    // How the capture ended: Running while capturing, Complete when the end
    // of the file was reached, Failed or Stalled when the decode broke off.
    media::CaptureEnd captureEnd() const { return end_; }
    // The recording as the spectrogram reads it.
    SpectrogramSource Source() const;

    // --- Driving (the main window's open and capture control) ---
    // The engine the capture decodes with; set once before StartCapture.
    void SetEngine(std::shared_ptr<media::IEngine> engine);
    // Releases the current recording, then announces that `path` loads.
    void BeginLoading(const QString& path);
    // The load succeeded: takes a reference to `block` (kept until the
    // release) and decodes the file into it. Emits opened(), then (when the
    // decode cannot start) captureEnded(Failed) at once.
    void StartCapture(const media::LoadedMedia& loaded, media::CGrabberCallback* block);
    // The load was refused; `reason` names the file and the cause.
    void FailLoading(const QString& reason);
    // Stops the capture and frees the recording (announced first); nothing
    // happens when Empty.
    void Release();

    // The CaptureBlock itself, for the code that loads and plays (null when
    // no recording). Views read Pcm().
    media::CGrabberCallback* block() const { return block_; }

  signals:
    // A file starts loading (absolute path).
    void loading(const QString& path);
    // The format and texts are known; the capture has started.
    void opened();
    // Complete frames captured so far, while the capture runs.
    void progress(std::uint32_t frames);
    // The capture ended (Complete, Failed or Stalled); Pcm() is final.
    void captureEnded(media::CaptureEnd end);
    // The file could not be opened.
    void failed(const QString& reason);
    // The recording's bytes are about to be freed: stop reading them now.
    void releasing();
    // The recording is gone; the model is Empty.
    void released();

  private:
    void OnCaptureNotify();
    void EndCapture(media::CaptureEnd end);

    std::shared_ptr<media::IEngine> engine_;
    std::unique_ptr<media::CaptureRun> capture_;
    media::CGrabberCallback* block_ = nullptr;  // one reference while hasRecording()
    QTimer progressTimer_;
    Stage stage_ = Stage::Empty;
    media::CaptureEnd end_ = media::CaptureEnd::Stopped;
    QString path_;
    std::string infoText_;
    QString shownInfoText_;
    Format format_;
};

}  // namespace vurma::app
