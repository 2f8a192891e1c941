// The one media graph of the program and the operations the window and the
// command line need of it. GStreamer (or the scriptable fake in tests)
// stands behind IEngine; nothing here names either.
//
// A session is used by one thread at a time: the window builds it on a load
// thread (AsyncLoad), then hands it to the GUI thread; the headless modes use
// it on their main thread. The window's state changes and seeks run on the
// session's command thread (Command), which the GUI thread never waits for;
// the GUI thread keeps to positions, events, volume and video meanwhile.
// Only the grabber callback runs on the streaming thread. Destroying a
// session waits for its running command, then stops the graph: the window
// leaves that to a background thread (Reap).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "analysis/report_error.h"
#include "analysis/ui_text.h"
#include "engine.h"
#include "grabber_callback.h"
#include "hresult.h"

namespace vurma::media {

// What a successful load tells the caller (window or command line).
struct LoadedMedia {
    int channels = 0;
    int bitsPerSample = 0;  // also set when refused for its width
    int sampleRate = 0;
    std::int64_t duration = 0;    // D, 100 ns units
    std::int64_t startFrame = 0;  // available range, 100 ns units
    std::int64_t endFrame = 0;
    std::uint32_t frameCount = 0;  // F: frames the sample arrays must hold
    std::uint32_t byteCount = 0;   // B: CaptureBlock size
    std::string infoText;          // three lines: date, format, length (UTF-8, Japanese)
    std::string shownInfoText;     // the same in the interface language
    bool noVideo = true;
};

class MediaSession {
  public:
    explicit MediaSession(std::shared_ptr<IEngine> engine);
    ~MediaSession();  // StopGraph, then DestroyGraph
    MediaSession(const MediaSession&) = delete;
    MediaSession& operator=(const MediaSession&) = delete;

    // Graph lifecycle.
    HRESULT CreateGraph();
    HRESULT DestroyGraph();
    void RebuildGraph();
    bool HasGraph() const;

    // Builds a fresh graph for the file, puts the grabber with a new callback
    // in front of a new audio renderer, reads the format and sizes the
    // CaptureBlock. Reports refusals and diagnostics through ReportError.
    // Negative on refusal (the graph is then rebuilt and empty where the
    // refusal rules say so); `out` is filled as far as the load got.
    // Blocks for at most the load timeout (LoadTimeout(), async_load.h): the
    // load runs on a thread of its own, and one that has not finished by
    // then (a named pipe with no writer) is abandoned to that thread and
    // refused with the usual message and the reason.
    HRESULT LoadMediaFile(const std::string& utf8Path, LoadedMedia* out);

    // The callback of the current load, with a reference of the caller's
    // own; null after a refusal and while no file is loaded.
    CallbackRef callback() const;

    // Transport, on the calling thread (or in a Command). graphState(): 0
    // stopped, 1 paused, 2 running, changed only when the engine call
    // succeeds; any thread may read it.
    HRESULT RunGraph();
    HRESULT PauseGraph();
    HRESULT StopGraph();
    int graphState() const;
    HRESULT GetState(int timeoutMs);
    HRESULT StopWhenReady();
    HRESULT GetCurrentPosition(std::int64_t* position);  // 100 ns units
    // Absolute current position; stop position untouched when stop is null.
    HRESULT SetPositions(std::int64_t current, const std::int64_t* stop);

    // Off the calling thread: `command` runs on the session's command thread
    // after every command posted before it. A non-zero `key` replaces a
    // command of the same key still waiting (a newer seek). What commands
    // report is kept for TakeCommandReports, and `reported` (set before the
    // first command) is then called on the command thread: it must only post.
    void Command(std::function<void(MediaSession&)> command, int key = 0);
    void SetCommandReported(std::function<void()> reported);
    std::vector<Report> TakeCommandReports();
    bool commandsIdle() const;
    bool WaitCommandsIdle(std::chrono::milliseconds timeout) const;

    // Events: `notify` may be called on any thread whenever events are queued
    // (the window posts one message to its own thread); GetEvent never waits
    // and returns false when the queue is empty.
    void SetEventNotify(std::function<void()> notify);
    bool GetEvent(long* code);

    // Volume in hundredths of a dB: -10000 silence .. 0 full.
    HRESULT MuteOn();
    HRESULT MuteOff();
    HRESULT SetVolume(int sliderPos);  // 100 * pos - 10000
    HRESULT PutVolume(long volume);

    // Video of the loaded file; null when it has none.
    bool noVideo() const;
    IVideoOutput* video();

    // The windows the video is attached to: the main window (message drain)
    // and the video host frame with its client rectangle. Set before loading;
    // headless callers leave them 0.
    void SetVideoHost(WindowHandle mainWindow, WindowHandle videoHost, int left, int top, int width,
                      int height);
    // Fits the video window to the host rectangle; reports its failure.
    HRESULT PositionVideoWindow();

    // The graph half of a rewind: StopGraph, GetState(500), seek to 0 and
    // StopWhenReady, each failure reported and the next step run anyway.
    void StopAndRewind();

    // How long LoadMediaFile may block; zero or less: it loads on the
    // calling thread, unbounded (a caller that does not wait for it).
    void SetLoadTimeout(std::chrono::milliseconds timeout);

    // Headless use (command line): decode as fast as possible, no sound.
    void SetUnsynchronised(bool on);

    // Off: the graph's grabber gets a callback of its own that captures
    // nothing, and the load's CaptureBlock (callback()) is filled by a
    // CaptureRun instead. On (the default): the graph captures as it plays.
    void SetCaptureInGraph(bool on);

  private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// "FilterGraph <address> pid <process id, 8 hex digits>": the name under
// which a graph is registered for outside inspection.
std::string RotItemName(const void* graph, unsigned processId);

// The three lines of the recording information: date, format, length
// (minutes are not limited to two digits). `text` maps the Japanese formats
// to the language shown (UiText); the default keeps them, as the CSV needs.
std::string FormatInfoText(const std::string& dateText, int channels, int bitsPerSample,
                           int sampleRate, std::int64_t totalMs, TextMap text = SourceText);

// The engine the program runs on: GStreamer. Safe to call more than once.
std::shared_ptr<IEngine> CreateGstEngine();

}  // namespace vurma::media
