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
    using CAnalyzerDlg::accept;
    using CAnalyzerDlg::Analyze;
    using CAnalyzerDlg::ClearCaptureShading;
    using CAnalyzerDlg::dragEnterEvent;
    using CAnalyzerDlg::dropEvent;
    using CAnalyzerDlg::EnableOpen;
    using CAnalyzerDlg::EnableSaveAs;
    using CAnalyzerDlg::eventFilter;
    using CAnalyzerDlg::ExportCsv;
    using CAnalyzerDlg::FinishCapture;
    using CAnalyzerDlg::HoldTimePosition;
    using CAnalyzerDlg::keyPressEvent;
    using CAnalyzerDlg::m_actAbout;
    using CAnalyzerDlg::m_actExit;
    using CAnalyzerDlg::m_actLanguage;
    using CAnalyzerDlg::m_actOpen;
    using CAnalyzerDlg::m_actSaveAs;
    using CAnalyzerDlg::m_actSpectrogram;
    using CAnalyzerDlg::m_bCaptureComplete;
    using CAnalyzerDlg::m_bDragging;
    using CAnalyzerDlg::m_bInitialised;
    using CAnalyzerDlg::m_bLoaded;
    using CAnalyzerDlg::m_bMute;
    using CAnalyzerDlg::m_bNoFrame;
    using CAnalyzerDlg::m_bReadErrorShown;
    using CAnalyzerDlg::m_bShutDown;
    using CAnalyzerDlg::m_btnCursor;
    using CAnalyzerDlg::m_btnMute;
    using CAnalyzerDlg::m_btnPause;
    using CAnalyzerDlg::m_btnPlay;
    using CAnalyzerDlg::m_btnRewind;
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
    using CAnalyzerDlg::m_dcSpectrum;
    using CAnalyzerDlg::m_dcStatus;
    using CAnalyzerDlg::m_dcWave;
    using CAnalyzerDlg::m_endFrame;
    using CAnalyzerDlg::m_engine;
    using CAnalyzerDlg::m_extraDbLabels;
    using CAnalyzerDlg::m_load;
    using CAnalyzerDlg::m_loaded;
    using CAnalyzerDlg::m_loadTimer;
    using CAnalyzerDlg::m_menuBar;
    using CAnalyzerDlg::m_model;
    using CAnalyzerDlg::m_nBitsPerSample;
    using CAnalyzerDlg::m_nCapacity;
    using CAnalyzerDlg::m_nChannels;
    using CAnalyzerDlg::m_nCursorBin;
    using CAnalyzerDlg::m_nCursorOffset;
    using CAnalyzerDlg::m_nLoadTimeoutMs;
    using CAnalyzerDlg::m_nPlayState;
    using CAnalyzerDlg::m_nSampleCountSel;
    using CAnalyzerDlg::m_nSampleRate;
    using CAnalyzerDlg::m_nSamples;
    using CAnalyzerDlg::m_nStartSample;
    using CAnalyzerDlg::m_ptDrag;
    using CAnalyzerDlg::m_pWindowed;
    using CAnalyzerDlg::m_samples;
    using CAnalyzerDlg::m_session;
    using CAnalyzerDlg::m_sliderFreq;
    using CAnalyzerDlg::m_sliderTime;
    using CAnalyzerDlg::m_sliderVolume;
    using CAnalyzerDlg::m_spectrum;
    using CAnalyzerDlg::m_spinCursor;
    using CAnalyzerDlg::m_startFrame;
    using CAnalyzerDlg::m_stFileInfo;
    using CAnalyzerDlg::m_stFreqEnd;
    using CAnalyzerDlg::m_stFreqStart;
    using CAnalyzerDlg::m_stNote;
    using CAnalyzerDlg::m_stNoVideo;
    using CAnalyzerDlg::m_stPeak;
    using CAnalyzerDlg::m_strFilePath;
    using CAnalyzerDlg::m_strLoadingPath;
    using CAnalyzerDlg::m_strNoteText;
    using CAnalyzerDlg::m_stSpectrum;
    using CAnalyzerDlg::m_stStatus;
    using CAnalyzerDlg::m_stTimeEnd;
    using CAnalyzerDlg::m_stTimeStart;
    using CAnalyzerDlg::m_stVideo;
    using CAnalyzerDlg::m_stWave;
    using CAnalyzerDlg::m_timer;
    using CAnalyzerDlg::m_view;
    using CAnalyzerDlg::OnCaptureEnded;
    using CAnalyzerDlg::OnClose;
    using CAnalyzerDlg::OnCursorButton;
    using CAnalyzerDlg::OnCustomDrawFreqSlider;
    using CAnalyzerDlg::OnCustomDrawTimeSlider;
    using CAnalyzerDlg::OnCustomDrawVolume;
    using CAnalyzerDlg::OnDeltaPosCursorSpin;
    using CAnalyzerDlg::OnDropFiles;
    using CAnalyzerDlg::OnFileExit;
    using CAnalyzerDlg::OnFileOpen;
    using CAnalyzerDlg::OnGraphNotify;
    using CAnalyzerDlg::OnHelpAbout;
    using CAnalyzerDlg::OnInitDialog;
    using CAnalyzerDlg::OnLButtonDown;
    using CAnalyzerDlg::OnLButtonUp;
    using CAnalyzerDlg::OnMouseMove;
    using CAnalyzerDlg::OnMute;
    using CAnalyzerDlg::OnPause;
    using CAnalyzerDlg::OnPlay;
    using CAnalyzerDlg::OnRewind;
    using CAnalyzerDlg::OnSearch;
    using CAnalyzerDlg::OnSelChangeFreqScale;
    using CAnalyzerDlg::OnSelChangeGain;
    using CAnalyzerDlg::OnSelChangeSampleCount;
    using CAnalyzerDlg::OnSelChangeTimeScale;
    using CAnalyzerDlg::OnSelChangeWindow;
    using CAnalyzerDlg::OnTimer;
    using CAnalyzerDlg::OnViewSpectrogram;
    using CAnalyzerDlg::PollVideo;
    using CAnalyzerDlg::RedrawAll;
    using CAnalyzerDlg::RedrawSpectrum;
    using CAnalyzerDlg::RedrawStatus;
    using CAnalyzerDlg::RedrawWave;
    using CAnalyzerDlg::reject;
    using CAnalyzerDlg::SeekPlaybackToSlider;
    using CAnalyzerDlg::SeekToSample;
    using CAnalyzerDlg::SelFftIndex;
    using CAnalyzerDlg::SelFftSize;
    using CAnalyzerDlg::SelHzPerDiv;
    using CAnalyzerDlg::SetPlayState;
    using CAnalyzerDlg::SetSliderPos;
    using CAnalyzerDlg::ShowCaptureProgress;
    using CAnalyzerDlg::showEvent;
    using CAnalyzerDlg::StartPlayback;
    using CAnalyzerDlg::StopAndRewind;
    using CAnalyzerDlg::UpdateCursorBin;
};

}  // namespace vurma::app::test
