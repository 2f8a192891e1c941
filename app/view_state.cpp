#include "view_state.h"

namespace vurma::app {

void ViewState::setFrameStart(std::int64_t frame) {
    if (frame == frameStart_) return;
    frameStart_ = frame;
    emit frameStartChanged(frame);
}

void ViewState::setFrameSettings(int fftIndex, int windowIndex) {
    if (fftIndex == fftIndex_ && windowIndex == windowIndex_) return;
    fftIndex_ = fftIndex;
    windowIndex_ = windowIndex;
    emit frameSettingsChanged(fftIndex, windowIndex);
}

void ViewState::setPlayingFrame(std::int64_t frame) {
    if (frame == playingFrame_) return;
    playingFrame_ = frame;
    emit playingFrameChanged(frame);
}

void ViewState::setPositionHeld(bool held) {
    if (held == positionHeld_) return;
    positionHeld_ = held;
    emit positionHeldChanged(held);
}

void ViewState::setSelection(FrameSpan span) {
    if (span.empty()) span = {};
    if (span == selection_) return;
    selection_ = span;
    emit selectionChanged(span);
}

void ViewState::Reset() {
    setFrameStart(0);
    setPlayingFrame(0);
    clearSelection();
}

}  // namespace vurma::app
