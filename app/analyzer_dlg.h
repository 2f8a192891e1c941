// The main dialog: its layout and controls, the analysis of the frame at the
// time slider and its plots, the open and load path and the transport. The
// recording itself lives in the RecordingModel and the shared position in
// the ViewState, which the dialog observes like every other view; it knows
// no other view's class (they open through view_registry.h).
// Files: analyzer_dlg.cpp (set-up, analysis and display, open and load),
// dialog_layout.cpp (layout, menus, growth), transport.cpp (play-state
// machine, timer, graph events, video), capture_control.cpp (the capture as
// the dialog shows it) and csv_save.cpp (Save As).
// Everything here runs on the GUI thread; graph events reach it as one queued
// call per notification from the media layer.
#pragma once

#include <QDialog>
#include <QImage>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "analysis/analysis_pass.h"
#include "analysis/sample_span.h"
#include "analysis/spectrogram.h"
#include "media/capture_run.h"
#include "media/hresult.h"
#include "media/media_session.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;
class QSlider;
class QTimer;

namespace vurma::display {
class PlotFrame;
}

namespace vurma::media {
class IEngine;
class MediaSession;
class AsyncLoad;
struct LoadOutcome;
}  // namespace vurma::media

namespace vurma::app {

class CursorSpin;
class GrowingLayout;
class RecordingModel;
class VideoPanel;
class ViewState;

// Texts of the play-state panel, indexed by m_nPlayState.
extern const char* const g_strPlayState[4];

// The File > Open choices as Qt name filters, in their order (17 entries).
QStringList FileOpenNameFilters();

// Converts dialog units to pixels (1.5 px per unit, rounded).
int DialogUnits(double units);

class CAnalyzerDlg : public QDialog {
    Q_OBJECT

  public:
    // Creates the window and runs its initialisation. The engine stands behind
    // the one media graph (GStreamer in the program, a fake in tests).
    explicit CAnalyzerDlg(std::shared_ptr<media::IEngine> engine, QWidget* parent = nullptr);
    // Creates the window laid out but not yet initialised; AttachEngine
    // supplies the engine later (the program does so after the first paint, so
    // that the window appears without waiting for the media framework).
    struct DeferEngine {};
    explicit CAnalyzerDlg(DeferEngine, QWidget* parent = nullptr);
    ~CAnalyzerDlg() override;

    // Takes the engine of a window made with DeferEngine and runs the
    // initialisation; a null engine counts as a graph that cannot be created.
    void AttachEngine(std::shared_ptr<media::IEngine> engine);

    // Takes the window size kept at the last close (and keeps this one's at
    // its close). The program calls it; tests leave the settings alone.
    void RestoreWindowSize();

    // Starts loading the file in the background (abandoning a pending load);
    // the window stays usable meanwhile and applies the load when it is done.
    void OpenMediaFile(const QString& path);
    // True while a load runs.
    bool loadPending() const;

    // The open recording and the shared position every view observes.
    RecordingModel* model() const { return m_model; }
    ViewState* viewState() const { return m_view; }

  protected:
    // Initialisation: false when the media graph cannot be created (the
    // window then keeps only what its layout holds).
    bool OnInitDialog();

    // Shell.
    void OnFileOpen();
    void OnDropFiles(const QList<QUrl>& urls);
    // A new video picture is waiting.
    void PollVideo();
    void OnFileExit();
    void OnHelpAbout();
    void OnViewSpectrogram();
    void OnClose();
    void ExportCsv();
    // Asks for the CSV file's path, proposing `proposed`; empty when the user
    // cancels. Tests replace it so no dialog opens.
    std::function<QString(const QString& proposed)> m_chooseSaveFile;
    // Asks for the media file to open; empty when the user cancels. Tests
    // replace it so no dialog opens.
    std::function<QString()> m_chooseOpenFile;
    void EnableSaveAs(bool enable);
    void EnableOpen(bool enable);

    // Analysis and display.
    void Analyze();
    void RedrawAll();
    void RedrawWave();
    void RedrawSpectrum();
    void RedrawStatus();
    void SetPlayState(int state);
    void UpdateCursorBin();
    void FinishCapture();
    void OnSearch();
    void OnSelChangeSampleCount(int index);
    void OnSelChangeGain();
    void OnSelChangeWindow();
    void OnSelChangeTimeScale();
    void OnSelChangeFreqScale();
    void OnCustomDrawTimeSlider();
    void OnCustomDrawFreqSlider();
    void OnCursorButton();
    void OnDeltaPosCursorSpin(int delta);
    // Mouse handlers take points in the dialog's client coordinates.
    void OnMouseMove(QPoint point);
    void OnLButtonDown(QPoint point);
    void OnLButtonUp();

    // Transport.
    void StartPlayback();
    void StopAndRewind();
    void OnPlay();
    void OnPause();
    void OnRewind();
    void OnMute();
    void OnTimer();
    void OnGraphNotify();
    // Shows what the graph's state changes and seeks reported.
    void OnTransportReported();
    // Seeks the graph (100 ns units) on its command thread, the stop at the end.
    void SeekGraph(std::int64_t position);
    // The capture's end (or failure), as the model announces it.
    void OnCaptureEnded(media::CaptureEnd end);
    // Shades the captured part of the time slider while the capture runs.
    void ShowCaptureProgress(std::uint32_t frames);
    void ClearCaptureShading();
    void OnCustomDrawVolume();
    media::HRESULT SeekToSample(int sliderPos);
    // The user holds the time position (the slider's handle, or a press in
    // the spectrogram): the timer leaves the slider alone meanwhile. Letting
    // go while playing continues playback from the slider's position.
    void HoldTimePosition(bool held);
    // While playing: playback continues from the slider's position.
    void SeekPlaybackToSlider();

    // Sets a slider's position and runs its change handler also when the
    // position does not change (a repaint of the slider in the original sense).
    void SetSliderPos(QSlider* slider, int pos);

    // Current selections looked up in the option tables.
    int SelFftIndex() const;
    int SelFftSize() const;
    double SelHzPerDiv() const;

    // --- State ---
    std::shared_ptr<media::IEngine> m_engine;
    std::unique_ptr<media::MediaSession> m_session;
    // The recording (file, texts, CaptureBlock and its capture run) and the
    // shared position; children of the dialog.
    RecordingModel* m_model = nullptr;
    ViewState* m_view = nullptr;
    // What the load found, until the capture starts.
    media::LoadedMedia m_loaded;
    // The load in progress, and how long it may take before it is refused.
    std::unique_ptr<media::AsyncLoad> m_load;
    QTimer* m_loadTimer = nullptr;
    int m_nLoadTimeoutMs = 0;  // media::LoadTimeout()
    std::string m_strLoadingPath;

    // The sample store: mono samples converted from the CaptureBlock for
    // the analysed frame and the waveform's visible span (while capturing,
    // the live frame as samples 0 .. N-1). The CaptureBlock is the one
    // full-length copy of the recording.
    SampleSpan m_samples;
    double* m_pWindowed = nullptr;  // the analysed frame, windowed (4096 entries while loaded)
    std::uint32_t m_nCapacity = 0;  // frames the file's length allows
    std::unique_ptr<SpectrumArrays> m_spectrum;
    int m_nSamples = 0;
    int m_nStartSample = 0;
    int m_nChannels = 0;
    int m_nBitsPerSample = 0;
    int m_nSampleRate = 44100;
    int m_nSampleCountSel = 2048;
    int m_bLoaded = 0;
    bool m_bNoFrame = false;         // after a capture: the frame at the slider does not fit
    int m_bCaptureComplete = 0;      // the capture reached the end of the file
    bool m_bReadErrorShown = false;  // the read-error message was shown for this file
    int m_nPlayState = 0;
    int m_bMute = 0;
    int m_nCursorOffset = 100;
    int m_nCursorBin = 1;
    int m_bDragging = 0;
    QPoint m_ptDrag;
    std::int64_t m_startFrame = 0;
    std::int64_t m_endFrame = 0;
    std::string m_strFilePath;
    // The note readout in Japanese, as the CSV holds it (the information
    // text is the model's).
    std::string m_strNoteText;
    bool m_bInitialised = false;
    bool m_bShutDown = false;

    QImage m_dcWave;
    QImage m_dcSpectrum;
    QImage m_dcStatus;

    // Controls.
    QWidget* m_client = nullptr;
    QMenuBar* m_menuBar = nullptr;
    QAction* m_actOpen = nullptr;
    QAction* m_actSaveAs = nullptr;
    QAction* m_actExit = nullptr;
    QAction* m_actAbout = nullptr;
    QAction* m_actLanguage[3] = {};  // View > Language, by LanguageChoice
    QAction* m_actSpectrogram = nullptr;
    QAction* m_actReport = nullptr;
    display::PlotFrame* m_stWave = nullptr;
    display::PlotFrame* m_stSpectrum = nullptr;
    display::PlotFrame* m_stStatus = nullptr;
    VideoPanel* m_stVideo = nullptr;
    QLabel* m_stTimeStart = nullptr;
    QLabel* m_stTimeEnd = nullptr;
    QLabel* m_stFreqStart = nullptr;
    QLabel* m_stFreqEnd = nullptr;
    QLabel* m_stFileInfo = nullptr;
    QLabel* m_stPeak = nullptr;
    QLabel* m_stNote = nullptr;
    QLabel* m_stNoVideo = nullptr;
    QSlider* m_sliderTime = nullptr;
    QSlider* m_sliderFreq = nullptr;
    QSlider* m_sliderVolume = nullptr;
    QComboBox* m_cbTimeScale = nullptr;
    QComboBox* m_cbGain = nullptr;
    QComboBox* m_cbFreqScale = nullptr;
    QComboBox* m_cbWindow = nullptr;
    QComboBox* m_cbSampleCount = nullptr;
    CursorSpin* m_spinCursor = nullptr;
    QPushButton* m_btnCursor = nullptr;
    QCheckBox* m_chkShowWindow = nullptr;
    QPushButton* m_btnPlay = nullptr;
    QPushButton* m_btnPause = nullptr;
    QPushButton* m_btnRewind = nullptr;
    QPushButton* m_btnMute = nullptr;
    QPushButton* m_btnSearch = nullptr;
    QTimer* m_timer = nullptr;
    // Level labels below -100 dB, shown as far as a grown spectrum reaches.
    std::vector<QLabel*> m_extraDbLabels;

    void accept() override;
    void reject() override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildLayout();
    // The controls' anchors for a window larger than the template.
    void AnchorForGrowth();
    // Places the controls and resizes the plots for the client's new size.
    void OnClientResized();
    void BuildMenu();
    void BuildLanguageMenu(QMenu* menu);
    void ClearReadouts();
    void ConnectHandlers();
    // The finished load: its reports are shown, then the file is taken
    // into the window and played.
    void OnLoadDone();
    // A load that has not finished in time is abandoned and refused.
    void OnLoadTimeout();
    // Takes the loaded session into the window; negative on refusal.
    media::HRESULT ApplyLoad(media::LoadOutcome& outcome);
    // Hands the current session to a background thread to stop and destroy,
    // leaving an empty one.
    void RetireSession();
    // Lets the media threads post to the window for as long as it lives.
    struct Poster;
    std::shared_ptr<Poster> m_poster;
    // The mute state or the volume slider's level, to the graph.
    void ApplyVolume();
    void AttachVideo();
    void FreeSampleArrays();
    // Samples first .. first + count - 1 of the store, or null.
    const double* SamplesAt(int first, int count);
    // Hands the loaded CaptureBlock to the model, which captures the file.
    void StartCapture();
    // The read-error message, once per file.
    void ReportReadError();
    QPoint ToSpectrumFrame(QPoint clientPoint) const;

    std::unique_ptr<GrowingLayout> m_growth;
    bool m_rememberSize = false;
};

}  // namespace vurma::app
