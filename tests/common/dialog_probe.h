// The main dialog with its protected state opened up for the tests (the
// program reaches none of it), and the views it opened.
#pragma once

#include "analyzer_dlg.h"
#include "recording_model.h"
#include "spectrogram_window.h"
#include "view_state.h"

namespace vurma::app::test {

class TestDialog : public CAnalyzerDlg {
  public:
    using CAnalyzerDlg::CAnalyzerDlg;
    // The spectrogram window the View menu opened, or null.
    SpectrogramWindow* spectrogram() const {
        return findChild<SpectrogramWindow*>(QString(), Qt::FindDirectChildrenOnly);
    }
    using CAnalyzerDlg::Analyze;
    using CAnalyzerDlg::eventFilter;
    using CAnalyzerDlg::ExportCsv;
    using CAnalyzerDlg::HoldTimePosition;
    using CAnalyzerDlg::m_actExit;
    using CAnalyzerDlg::m_actLanguage;
    using CAnalyzerDlg::m_actOpen;
    using CAnalyzerDlg::m_actSaveAs;
    using CAnalyzerDlg::m_bCaptureComplete;
    using CAnalyzerDlg::m_bDragging;
    using CAnalyzerDlg::m_bLoaded;
    using CAnalyzerDlg::m_bShutDown;
    using CAnalyzerDlg::m_btnCursor;
    using CAnalyzerDlg::m_btnMute;
    using CAnalyzerDlg::m_btnPlay;
    using CAnalyzerDlg::m_btnSearch;
    using CAnalyzerDlg::m_cbFreqScale;
    using CAnalyzerDlg::m_cbGain;
    using CAnalyzerDlg::m_cbSampleCount;
    using CAnalyzerDlg::m_cbTimeScale;
    using CAnalyzerDlg::m_cbWindow;
    using CAnalyzerDlg::m_chkShowWindow;
    using CAnalyzerDlg::m_chooseOpenFile;
    using CAnalyzerDlg::m_chooseSaveFile;
    using CAnalyzerDlg::m_client;
    using CAnalyzerDlg::m_endFrame;
    using CAnalyzerDlg::m_menuBar;
    using CAnalyzerDlg::m_model;
    using CAnalyzerDlg::m_nCapacity;
    using CAnalyzerDlg::m_nCursorBin;
    using CAnalyzerDlg::m_nCursorOffset;
    using CAnalyzerDlg::m_nLoadTimeoutMs;
    using CAnalyzerDlg::m_nPlayState;
    using CAnalyzerDlg::m_nSampleCountSel;
    using CAnalyzerDlg::m_nSampleRate;
    using CAnalyzerDlg::m_nSamples;
    using CAnalyzerDlg::m_nStartSample;
    using CAnalyzerDlg::m_pWindowed;
    using CAnalyzerDlg::m_samples;
    using CAnalyzerDlg::m_session;
    using CAnalyzerDlg::m_sliderFreq;
    using CAnalyzerDlg::m_sliderTime;
    using CAnalyzerDlg::m_sliderVolume;
    using CAnalyzerDlg::m_spinCursor;
    using CAnalyzerDlg::m_stFileInfo;
    using CAnalyzerDlg::m_stFreqEnd;
    using CAnalyzerDlg::m_stFreqStart;
    using CAnalyzerDlg::m_stNote;
    using CAnalyzerDlg::m_stNoVideo;
    using CAnalyzerDlg::m_stPeak;
    using CAnalyzerDlg::m_strFilePath;
    using CAnalyzerDlg::m_stSpectrum;
    using CAnalyzerDlg::m_stStatus;
    using CAnalyzerDlg::m_stTimeEnd;
    using CAnalyzerDlg::m_stTimeStart;
    using CAnalyzerDlg::m_stVideo;
    using CAnalyzerDlg::m_stWave;
    using CAnalyzerDlg::m_timer;
    using CAnalyzerDlg::OnDropFiles;
    using CAnalyzerDlg::OnMouseMove;
    using CAnalyzerDlg::OnMute;
    using CAnalyzerDlg::OnPause;
    using CAnalyzerDlg::OnPlay;
    using CAnalyzerDlg::OnRewind;
    using CAnalyzerDlg::OnSearch;
    using CAnalyzerDlg::OnSelChangeTimeScale;
    using CAnalyzerDlg::OnTimer;
    using CAnalyzerDlg::OnViewSpectrogram;
    using CAnalyzerDlg::RedrawAll;
    using CAnalyzerDlg::SetSliderPos;
    using CAnalyzerDlg::StopAndRewind;
};

}  // namespace vurma::app::test
