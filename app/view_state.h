// Where the views are in the open recording: the analysis frame (its first
// frame, FFT size and window), the playing position and a selected time
// span. Every view reads these and any view may set them; a setter that
// changes a value emits its signal once, a setter that changes nothing
// emits nothing. Positions count frames (samples per channel) from the start
// of the recording, at the recording's sample rate.
//
// Threads: GUI thread only (direct connections).
#pragma once

#include <QObject>
#include <cstdint>

#include "analysis/settings.h"

namespace vurma::app {

// Frames [first, last) of the recording; empty when last <= first.
struct FrameSpan {
    std::int64_t first = 0;
    std::int64_t last = 0;
    bool empty() const { return last <= first; }
    std::int64_t length() const { return empty() ? 0 : last - first; }
    friend bool operator==(const FrameSpan&, const FrameSpan&) = default;
};

class ViewState : public QObject {
    Q_OBJECT

  public:
    explicit ViewState(QObject* parent = nullptr) : QObject(parent) {}

    // First frame of the analysed frame (the main window's time slider).
    std::int64_t frameStart() const { return frameStart_; }
    void setFrameStart(std::int64_t frame);
    // FFT size and window function of the analysed frame, as indexes of the
    // option tables (g_nFftSize, g_strWindowName).
    int fftIndex() const { return fftIndex_; }
    int windowIndex() const { return windowIndex_; }
    void setFrameSettings(int fftIndex, int windowIndex);

    // Frame the playback has reached (updated while playing).
    std::int64_t playingFrame() const { return playingFrame_; }
    void setPlayingFrame(std::int64_t frame);

    // True while a view holds the position under the user's hand (a slider
    // or a picture being dragged): playback does not move it meanwhile and
    // continues from where it is let go.
    bool positionHeld() const { return positionHeld_; }
    void setPositionHeld(bool held);

    // The selected time span; empty when nothing is selected.
    FrameSpan selection() const { return selection_; }
    void setSelection(FrameSpan span);  // an empty span clears the selection
    void clearSelection() { setSelection({}); }

    // A new recording: frame start, playing position and selection back to
    // 0 and none (each change announced); the frame settings stay.
    void Reset();

  signals:
    void frameStartChanged(std::int64_t frame);
    void frameSettingsChanged(int fftIndex, int windowIndex);
    void playingFrameChanged(std::int64_t frame);
    void positionHeldChanged(bool held);
    void selectionChanged(vurma::app::FrameSpan span);

  private:
    std::int64_t frameStart_ = 0;
    int fftIndex_ = kDefaultFftIndex;
    int windowIndex_ = kDefaultWindowIndex;
    std::int64_t playingFrame_ = 0;
    bool positionHeld_ = false;
    FrameSpan selection_;
};

}  // namespace vurma::app
