// The capture as the main dialog shows it: the recording model captures the
// loaded file; the dialog shades the time slider meanwhile, reports a broken
// decode once, and at the end browses the whole recording (Find included).
#include <QApplication>
#include <QComboBox>
#include <QSlider>
#include <climits>
#include <cstdlib>

#include "analysis/report_error.h"
#include "analysis/sample_store.h"
#include "analysis/settings.h"
#include "app_strings.h"
#include "dialog_internal.h"
#include "media/media_session.h"
#include "recording_model.h"
#include "widgets.h"

namespace vurma::app {

void CAnalyzerDlg::StartCapture() {
    if (m_session) m_model->StartCapture(m_loaded, m_session->callback());
}

void CAnalyzerDlg::ClearCaptureShading() {
    static_cast<TimeSlider*>(m_sliderTime)->setCaptured(-1.0);
}

void CAnalyzerDlg::ShowCaptureProgress(std::uint32_t frames) {
    if (m_model->stage() != RecordingModel::Stage::Capturing || m_nCapacity == 0) return;
    static_cast<TimeSlider*>(m_sliderTime)->setCaptured(static_cast<double>(frames) / m_nCapacity);
}

void CAnalyzerDlg::ReportReadError() {
    if (m_bReadErrorShown) return;
    m_bReadErrorShown = true;
    ReportError(kMsgPlaybackError);
}

void CAnalyzerDlg::OnCaptureEnded(media::CaptureEnd end) {
    if (m_bShutDown || m_bLoaded) return;
    // A damaged or vanished file keeps what was captured, with one message.
    if (end != media::CaptureEnd::Complete) ReportReadError();
    m_bCaptureComplete = end == media::CaptureEnd::Complete ? 1 : 0;
    FinishCapture();
    RedrawAll();
}

void CAnalyzerDlg::FinishCapture() {
    if (!m_model->hasRecording()) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_bLoaded = 1;
    ClearCaptureShading();
    const PcmView pcm = m_model->Pcm();
    std::uint32_t frames = (m_nChannels > 0 && m_nBitsPerSample >= 8) ? CompleteFrames(pcm) : 0;
    if (!m_pWindowed) frames = 0;
    frames = std::min(frames, m_nCapacity);
    m_nSamples = static_cast<int>(std::min<std::uint32_t>(frames, INT_MAX));
    // From now on the store converts what is shown from the whole capture.
    m_samples.Reset();

    const FinishDecision decision = DecideFinishCapture(m_nSamples, SelFftIndex());
    if (decision.tooFew) {
        ReportError(kMsgTooFewSamplesToCompute);
        m_cbSampleCount->setCurrentIndex(0);
        QApplication::restoreOverrideCursor();
        return;
    }
    m_cbSampleCount->setCurrentIndex(decision.fftIndex);
    // Playback goes on in whatever state it is: the analysis starts at the
    // slider's position, which follows the playing position, and enables
    // Save As when the frame fits.
    SetSliderPos(m_sliderTime, m_sliderTime->value());
    QApplication::restoreOverrideCursor();
}

void CAnalyzerDlg::OnSearch() {
    if (m_nPlayState == 3 || !m_bLoaded) return;
    // The whole capture, block by block through the store's buffer.
    if (!m_model->hasRecording() || m_nSamples <= 0) return;
    const PcmView pcm = m_model->Pcm();
    double* scratch = m_samples.Hold(0, SampleSpan::kBlockFrames);
    if (scratch == nullptr) return;
    const std::uint32_t loudest = FindLoudestFrame(pcm, static_cast<std::uint32_t>(m_nSamples),
                                                   scratch, SampleSpan::kBlockFrames);
    m_samples.Reset();
    // The frame goes where it fits and still holds the loudest sample.
    const std::uint32_t start = SearchFrameStart(loudest, static_cast<std::uint32_t>(m_nSamples),
                                                 static_cast<std::uint32_t>(SelFftSize()));
    SetSliderPos(m_sliderTime, static_cast<int>(start));
}

const double* CAnalyzerDlg::SamplesAt(int first, int count) {
    if (first < 0 || count <= 0) return nullptr;
    const auto f = static_cast<std::uint32_t>(first);
    const auto n = static_cast<std::uint32_t>(count);
    // While capturing the store holds only the live frame.
    if (!m_bLoaded || !m_model->hasRecording()) return m_samples.Find(f, n);
    return m_samples.Get(m_model->Pcm(), f, n);
}

void CAnalyzerDlg::FreeSampleArrays() {
    std::free(m_pWindowed);
    m_pWindowed = nullptr;
    m_samples.Free();
    m_nCapacity = 0;
}

}  // namespace vurma::app
