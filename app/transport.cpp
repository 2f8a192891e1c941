// The main dialog's transport: the play-state machine (stopped, paused,
// playing), the refresh timer that follows the playing position, the graph's
// events, seeking, volume and the video panel.
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <algorithm>

#include "analysis/report_error.h"
#include "analysis/sample_store.h"
#include "app_strings.h"
#include "dialog_internal.h"
#include "media/media_session.h"
#include "recording_model.h"
#include "view_state.h"
#include "widgets.h"

namespace vurma::app {

using media::Failed;
using media::HRESULT;
using media::MediaSession;

namespace {
// Seeks and volume changes waiting on the command thread give way to a
// newer one of their kind.
constexpr int kSeekCommand = 1;
constexpr int kVolumeCommand = 2;

void Run(MediaSession& s) { s.RunGraph(); }
void Pause(MediaSession& s) { s.PauseGraph(); }
void Rewind(MediaSession& s) { s.StopAndRewind(); }
// Cued: paused on the first frame (video files show their first picture).
void Cue(MediaSession& s) {
    s.RunGraph();
    s.PauseGraph();
}
}  // namespace

// The graph's state changes and seeks run on the session's command thread, in
// the order given; the play state, buttons and slider change at once.
void CAnalyzerDlg::StartPlayback() {
    m_timer->start(kTimerPeriodMs);
    m_session->Command(Run);
    SetPlayState(3);
}

void CAnalyzerDlg::StopAndRewind() {
    m_timer->stop();
    m_session->Command(Rewind);
    SetSliderPos(m_sliderTime, 0);
    SetPlayState(1);
}

void CAnalyzerDlg::SeekGraph(std::int64_t position) {
    if (!m_session) return;
    const std::int64_t stop = m_endFrame;
    m_session->Command([position, stop](MediaSession& s) { s.SetPositions(position, &stop); },
                       kSeekCommand);
}

void CAnalyzerDlg::OnTransportReported() {
    if (!m_session || m_bShutDown) return;
    for (const Report& report : m_session->TakeCommandReports()) {
        ReportError(ReportDetails{report.details}, "%s", report.text.c_str());
        if (m_bShutDown) return;  // closed from the box's own event loop
    }
}

void CAnalyzerDlg::OnPlay() {
    if (m_nPlayState == 0 || !m_model->hasRecording()) return;
    StartPlayback();
}

void CAnalyzerDlg::OnPause() {
    if (m_nPlayState == 2) {
        m_session->Command(Run);
        SetPlayState(3);
    } else if (m_nPlayState == 3) {
        m_session->Command(Pause);
        SetPlayState(2);
    }
}

void CAnalyzerDlg::OnRewind() {
    if (m_nPlayState == 0) return;
    StopAndRewind();
    RedrawAll();
    m_session->Command(Cue);
}

void CAnalyzerDlg::OnMute() {
    m_bMute = 1 - m_bMute;
    m_btnMute->setChecked(m_bMute != 0);
    // Releasing mute returns to the slider's level.
    ApplyVolume();
}

void CAnalyzerDlg::OnCustomDrawVolume() {
    if (!m_session || m_bMute) return;
    ApplyVolume();
}

void CAnalyzerDlg::OnTimer() {
    if (m_nPlayState != 3 || !m_session) return;
    std::int64_t t = 0;
    if (Failed(m_session->GetCurrentPosition(&t)) || t >= m_endFrame) return;
    m_view->setPlayingFrame(FrameAtPosition(m_nSampleRate, t));
    // A position the user holds is not snapped back to the playing one.
    if (!m_view->positionHeld()) {
        const int range = m_sliderTime->maximum();
        SetSliderPos(m_sliderTime,
                     static_cast<int>(static_cast<double>(range) * static_cast<double>(t) /
                                      static_cast<double>(m_endFrame)));
    }
    if (m_bLoaded) return;
    // Live frame at the playing position from the bytes captured so far.
    const int n = SelFftSize();
    if (!m_model->hasRecording() || !m_pWindowed || static_cast<std::uint32_t>(n) > m_nCapacity ||
        m_nChannels <= 0)
        return;
    m_nSamples = n;
    m_nStartSample = 0;
    const PcmView pcm = m_model->Pcm();
    // A frame not captured yet leaves the previous one in place; before the
    // first (or after a size change) the new buffer holds silence, not
    // whatever the memory held.
    const bool held = m_samples.Find(0, static_cast<std::uint32_t>(n)) != nullptr;
    if (double* live = m_samples.Hold(0, n)) {
        if (!ConvertSamples(pcm, FrameAtPosition(m_nSampleRate, t), n, live, live, 0) && !held)
            std::fill(live, live + n, 0.0);
    }
}

void CAnalyzerDlg::OnGraphNotify() {
    if (!m_session || m_bShutDown) return;
    long code = 0;
    while (m_session->GetEvent(&code)) {
        if (code == media::EC_ERRORABORT && m_nPlayState != 0) {
            // A stream that broke off sends no end of media: stop instead of
            // showing "playing" for ever, and say why. The capture goes on.
            ReportReadError();
            StopAndRewind();
            continue;
        }
        if (code != media::EC_COMPLETE) continue;
        // The capture runs apart from playback: the end of media only
        // rewinds and cues on the first frame.
        StopAndRewind();
        m_session->Command(Cue);
    }
}

HRESULT CAnalyzerDlg::SeekToSample(int sliderPos) {
    if (!m_session || !m_bLoaded || m_nSamples <= 0 || m_session->noVideo() || m_nPlayState == 3) {
        return media::S_FALSE;
    }
    const auto t = static_cast<std::int64_t>(static_cast<double>(m_endFrame - m_startFrame) *
                                             sliderPos / m_nSamples);
    SeekGraph(t);
    return media::S_OK;
}

void CAnalyzerDlg::PollVideo() {
    if (!m_bShutDown) m_stVideo->poll();
}

void CAnalyzerDlg::HoldTimePosition(bool held) { m_view->setPositionHeld(held); }

void CAnalyzerDlg::SeekPlaybackToSlider() {
    const int range = m_sliderTime->maximum();
    if (m_nPlayState != 3 || !m_session || range <= 0 || m_endFrame <= 0) return;
    // The inverse of the timer's mapping from the playing position.
    const auto t = static_cast<std::int64_t>(static_cast<long double>(m_endFrame) *
                                             m_sliderTime->sliderPosition() / range);
    SeekGraph(t);
}

void CAnalyzerDlg::AttachVideo() {
    media::IVideoOutput* out = m_session->video();
    if (!out) return;
    m_stVideo->setSource([out](QImage* picture) {
        media::VideoFrame frame;
        if (!out->TakeFrame(&frame) || frame.width <= 0 || frame.height <= 0) return false;
        if (frame.bytes.size() < static_cast<std::size_t>(frame.stride) * frame.height)
            return false;
        *picture = QImage(frame.bytes.data(), frame.width, frame.height, frame.stride,
                          QImage::Format_RGBX8888)
                       .convertToFormat(QImage::Format_RGB32);
        return true;
    });
    // Called on a streaming thread: only post to the window's thread.
    std::shared_ptr<Poster> poster = m_poster;
    out->SetFrameNotify([poster] { poster->Post(&CAnalyzerDlg::PollVideo); });
}

// The mute button or the volume slider's level, set with the graph's other
// changes on its command thread (the audio branch is made there).
void CAnalyzerDlg::ApplyVolume() {
    if (!m_session) return;
    const bool mute = m_bMute != 0;
    const int level = m_sliderVolume->value();
    m_session->Command([mute, level](MediaSession& s) { mute ? s.MuteOn() : s.SetVolume(level); },
                       kVolumeCommand);
}

}  // namespace vurma::app
