#include "dialog_internal.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>
#include <QtGlobal>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <tuple>

#include "about_dlg.h"
#include "analysis/fft.h"
#include "analysis/report_error.h"
#include "analysis/sample_store.h"
#include "analysis/settings.h"
#include "analysis/ui_text.h"
#include "analysis/window_functions.h"
#include "app_strings.h"
#include "display/plot_frame.h"
#include "display/plots.h"
#include "export/csv_writer.h"
#include "growing_layout.h"
#include "media/async_load.h"
#include "media/background.h"
#include "media/capture_run.h"
#include "media/grabber_callback.h"
#include "media/media_session.h"
#include "recording_model.h"
#include "translation.h"
#include "view_registry.h"
#include "view_state.h"
#include "widgets.h"

namespace vurma::app {

using media::Failed;
using media::HRESULT;
using media::Succeeded;

const char* const g_strPlayState[4] = {"", UI_TEXT("停止中"), UI_TEXT("一時停止中"),
                                       UI_TEXT("再生中...")};

namespace {

const QCursor& HandCursor(bool closed) {
    static const QCursor open = [] {
        QPixmap pixmap(kCursorOpenPath);
        return pixmap.isNull() ? QCursor(Qt::OpenHandCursor) : QCursor(pixmap, 16, 14);
    }();
    static const QCursor grasp = [] {
        QPixmap pixmap(kCursorClosedPath);
        return pixmap.isNull() ? QCursor(Qt::ClosedHandCursor) : QCursor(pixmap, 16, 14);
    }();
    return closed ? grasp : open;
}

}  // namespace

CAnalyzerDlg::CAnalyzerDlg(std::shared_ptr<media::IEngine> engine, QWidget* parent)
    : CAnalyzerDlg(DeferEngine{}, parent) {
    AttachEngine(std::move(engine));
}

CAnalyzerDlg::CAnalyzerDlg(DeferEngine, QWidget* parent)
    : QDialog(parent),
      m_spectrum(std::make_unique<SpectrumArrays>()),
      m_growth(std::make_unique<GrowingLayout>()) {
    QFont font(QStringLiteral("IPAGothic"));
    font.setPixelSize(12);
    setFont(font);
    setWindowIcon(QIcon(QString::fromLatin1(kIconPath)));
    setAcceptDrops(true);
    // A window with a caption, system menu, minimise, maximise and close box;
    // it grows from the template's size, its minimum.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    BuildMenu();
    BuildLayout();
    m_timer = new QTimer(this);
    m_timer->setInterval(kTimerPeriodMs);
    connect(m_timer, &QTimer::timeout, this, [this] { OnTimer(); });
    // The recording and the shared position, observed like any other view's.
    m_model = new RecordingModel(this);
    m_view = new ViewState(this);
    connect(m_model, &RecordingModel::progress, this,
            [this](std::uint32_t frames) { ShowCaptureProgress(frames); });
    connect(m_model, &RecordingModel::captureEnded, this,
            [this](media::CaptureEnd end) { OnCaptureEnded(end); });
    connect(m_view, &ViewState::frameStartChanged, this, [this](std::int64_t frame) {
        if (frame != m_sliderTime->value())
            SetSliderPos(m_sliderTime,
                         static_cast<int>(std::clamp<std::int64_t>(frame, 0, INT_MAX)));
    });
    // A position let go while playing: playback continues from there.
    connect(m_view, &ViewState::positionHeldChanged, this, [this](bool held) {
        if (!held) SeekPlaybackToSlider();
    });
    m_nLoadTimeoutMs = static_cast<int>(media::LoadTimeout().count());
    m_loadTimer = new QTimer(this);
    m_loadTimer->setSingleShot(true);
    connect(m_loadTimer, &QTimer::timeout, this, [this] { OnLoadTimeout(); });
    m_load = std::make_unique<media::AsyncLoad>();
    m_poster = std::make_shared<Poster>();
    m_poster->dlg = this;
}

void CAnalyzerDlg::AttachEngine(std::shared_ptr<media::IEngine> engine) {
    if (m_session || m_bShutDown) return;  // once, and not after closing
    m_engine = std::move(engine);
    m_bInitialised = OnInitDialog();
    ConnectHandlers();
    // A window shown before its engine arrived was painted without drawing
    // surfaces: draw now what a window shown with its engine draws.
    if (m_bInitialised) RedrawAll();
}

CAnalyzerDlg::~CAnalyzerDlg() {
    OnClose();
    m_poster->CutOff();
}

void CAnalyzerDlg::ClearReadouts() {
    m_stFileInfo->clear();
    m_stPeak->clear();
    m_stNote->clear();
    m_strNoteText.clear();
}

bool CAnalyzerDlg::OnInitDialog() {
    m_session = std::make_unique<media::MediaSession>(m_engine);
    const HRESULT hr = m_session->CreateGraph();
    if (Failed(hr)) {
        ReportError(UI_TEXT("DirectShowを初期化できません hr=0x%x\r\n"), static_cast<unsigned>(hr));
        return false;
    }
    // Each file gets a session of its own (OpenMediaFile); this one holds
    // no file.
    m_model->SetEngine(m_engine);
    setWindowTitle(QString::fromLatin1(kStrCaption));
    m_pWindowed = nullptr;
    m_nSamples = 0;
    m_bLoaded = 0;

    m_sliderVolume->setRange(0, 100);
    m_sliderVolume->setValue(94);
    m_sliderTime->setRange(0, 0x7FFF);
    PageByFifth(m_sliderTime);
    m_sliderTime->setTickPosition(QSlider::NoTicks);

    for (int i = 0; i < kTimeScaleCount; ++i) {
        m_cbTimeScale->insertItem(i, QString::fromStdString(TimeScaleLabel(g_nTimeScale[i])));
    }
    m_cbTimeScale->setCurrentIndex(kDefaultTimeScaleIndex);
    for (int i = 0; i < kGainCount; ++i) {
        m_cbGain->insertItem(i, QString::fromStdString(GainLabel(g_dGain[i])));
    }
    m_cbGain->setCurrentIndex(kDefaultGainIndex);
    for (int i = 0; i < kFreqScaleCount; ++i) {
        m_cbFreqScale->insertItem(i, QString::fromStdString(FreqScaleLabel(g_dFreqScale[i])));
    }
    m_cbFreqScale->setCurrentIndex(kDefaultFreqScaleIndex);
    for (int i = 0; i < kFftSizeCount; ++i) {
        m_cbSampleCount->insertItem(i, QString::fromStdString(FftSizeLabel(g_nFftSize[i])));
    }
    m_cbSampleCount->setCurrentIndex(kDefaultFftIndex);
    m_nSampleCountSel = g_nFftSize[kDefaultFftIndex];

    SetFreqSliderRange(m_sliderFreq, g_nFftSize[kDefaultFftIndex]);

    m_nCursorOffset = 100;
    m_nCursorBin = 1;
    UpdateCursorBin();
    m_bDragging = 0;

    m_dcWave = display::CreatePlotSurface(m_stWave->width(), m_stWave->height());
    m_dcSpectrum = display::CreatePlotSurface(m_stSpectrum->width(), m_stSpectrum->height());
    m_dcStatus = display::CreatePlotSurface(m_stStatus->width(), m_stStatus->height());

    for (int i = 0; i < kOfferedWindowCount; ++i) {
        m_cbWindow->insertItem(i, Tr(g_strWindowName[i]));
    }
    m_cbWindow->setCurrentIndex(kDefaultWindowIndex);

    EnableSaveAs(false);
    EnableOpen(true);
    ClearSpectrum(m_spectrum->db);
    SetPlayState(0);
    return true;
}

void CAnalyzerDlg::ConnectHandlers() {
    connect(m_actOpen, &QAction::triggered, this, [this] { OnFileOpen(); });
    connect(m_actSaveAs, &QAction::triggered, this, [this] { ExportCsv(); });
    connect(m_actExit, &QAction::triggered, this, [this] { OnFileExit(); });
    connect(m_actAbout, &QAction::triggered, this, [this] { OnHelpAbout(); });
    connect(m_actSpectrogram, &QAction::triggered, this, [this] { OnViewSpectrogram(); });
    connect(m_actReport, &QAction::triggered, this,
            [this] { ShowView(ViewKind::Report, this, m_model, m_view); });

    connect(m_sliderTime, &QSlider::valueChanged, this, [this] { OnCustomDrawTimeSlider(); });
    // The analysed frame's size and window, shared with the other views.
    for (QComboBox* combo : {m_cbSampleCount, m_cbWindow}) {
        connect(combo, &QComboBox::currentIndexChanged, this, [this] {
            m_view->setFrameSettings(
                SelFftIndex(),
                ClampIndex(m_cbWindow->currentIndex(), kOfferedWindowCount, kDefaultWindowIndex));
        });
    }
    connect(m_sliderTime, &QSlider::sliderPressed, this, [this] { HoldTimePosition(true); });
    connect(m_sliderTime, &QSlider::sliderReleased, this, [this] { HoldTimePosition(false); });
    // A click in the groove or a key moves playback along with the slider.
    connect(m_sliderTime, &QSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderMove && action != QAbstractSlider::SliderNoAction)
            SeekPlaybackToSlider();
    });
    connect(m_sliderFreq, &QSlider::valueChanged, this, [this] { OnCustomDrawFreqSlider(); });
    connect(m_sliderVolume, &QSlider::valueChanged, this, [this] { OnCustomDrawVolume(); });

    // Selection changes made by the user only; the program's own selections
    // (defaults, fallbacks) do not run the handlers.
    connect(m_cbTimeScale, &QComboBox::activated, this, [this] { OnSelChangeTimeScale(); });
    connect(m_cbGain, &QComboBox::activated, this, [this] { OnSelChangeGain(); });
    connect(m_cbFreqScale, &QComboBox::activated, this, [this] { OnSelChangeFreqScale(); });
    connect(m_cbWindow, &QComboBox::activated, this, [this] { OnSelChangeWindow(); });
    connect(m_cbSampleCount, &QComboBox::activated, this,
            [this](int index) { OnSelChangeSampleCount(index); });

    connect(m_chkShowWindow, &QCheckBox::clicked, this, [this] { OnSelChangeTimeScale(); });
    connect(m_btnCursor, &QPushButton::clicked, this, [this] { OnCursorButton(); });
    connect(m_spinCursor, &CursorSpin::deltaPos, this,
            [this](int delta) { OnDeltaPosCursorSpin(delta); });
    connect(m_btnPlay, &QPushButton::clicked, this, [this] { OnPlay(); });
    connect(m_btnPause, &QPushButton::clicked, this, [this] { OnPause(); });
    connect(m_btnRewind, &QPushButton::clicked, this, [this] { OnRewind(); });
    connect(m_btnMute, &QPushButton::clicked, this, [this] { OnMute(); });
    connect(m_btnSearch, &QPushButton::clicked, this, [this] { OnSearch(); });
}

// --- Selections ---

int CAnalyzerDlg::SelFftIndex() const {
    return ClampIndex(m_cbSampleCount->currentIndex(), kFftSizeCount, kDefaultFftIndex);
}

int CAnalyzerDlg::SelFftSize() const { return g_nFftSize[SelFftIndex()]; }

double CAnalyzerDlg::SelHzPerDiv() const {
    return g_dFreqScale[ClampIndex(m_cbFreqScale->currentIndex(), kFreqScaleCount,
                                   kDefaultFreqScaleIndex)];
}

void CAnalyzerDlg::SetSliderPos(QSlider* slider, int pos) {
    const int clamped = qBound(slider->minimum(), pos, slider->maximum());
    if (clamped == slider->value()) {
        if (slider == m_sliderTime) {
            OnCustomDrawTimeSlider();
        } else if (slider == m_sliderFreq) {
            OnCustomDrawFreqSlider();
        } else if (slider == m_sliderVolume) {
            OnCustomDrawVolume();
        }
    } else {
        slider->setValue(clamped);
    }
}

void CAnalyzerDlg::EnableSaveAs(bool enable) { m_actSaveAs->setEnabled(enable); }

void CAnalyzerDlg::EnableOpen(bool enable) { m_actOpen->setEnabled(enable); }

// --- Analysis and display ---

void CAnalyzerDlg::Analyze() {
    AnalysisSettings settings;
    settings.fftIndex = SelFftIndex();
    settings.gainIndex = ClampIndex(m_cbGain->currentIndex(), kGainCount, kDefaultGainIndex);
    settings.windowIndex =
        ClampIndex(m_cbWindow->currentIndex(), kOfferedWindowCount, kDefaultWindowIndex);
    AnalysisResult result;
    // Only the analysed frame is taken from the store: the pass sees it as
    // a recording of N samples starting at 0, with the same arithmetic.
    const int n = g_nFftSize[settings.fftIndex];
    const double* frame = m_nStartSample >= 0 && m_nStartSample <= m_nSamples - n
                              ? SamplesAt(m_nStartSample, n)
                              : nullptr;  // the frame does not fit
    const bool fits = frame != nullptr && vurma::Analyze(frame, m_pWindowed, n, 0, m_nSampleRate,
                                                         settings, *m_spectrum, &result);
    if (fits) {
        m_stPeak->setText(QString::fromStdString(result.peakText));
        m_strNoteText = result.noteText;
        m_stNote->setText(QString::fromStdString(
            FormatNote(result.peakBin, g_nFftSize[settings.fftIndex], m_nSampleRate, UiText)));
    }
    if (!m_bLoaded) return;
    // Browsing a capture: a frame that does not fit in it shows no spectrum,
    // peak or note, and Save As waits until a frame fits again.
    m_bNoFrame = !fits;
    if (!fits) {
        m_stPeak->clear();
        m_stNote->clear();
        m_strNoteText.clear();
    }
    EnableSaveAs(fits);
}

void CAnalyzerDlg::RedrawAll() {
    RedrawWave();
    UpdateCursorBin();
    RedrawSpectrum();
    RedrawStatus();
}

void CAnalyzerDlg::RedrawWave() {
    if (m_dcWave.isNull()) return;
    const int pos = m_sliderTime->value();
    const int start = m_bLoaded ? pos : 0;
    display::WaveInput in;
    in.nSamples = m_nSamples;
    in.sampleRate = m_nSampleRate;
    in.startSample = m_nStartSample;
    in.firstDrawn = start;
    in.sliderPos = pos;
    in.fftSize = SelFftSize();
    in.timeScaleUs = g_nTimeScale[ClampIndex(m_cbTimeScale->currentIndex(), kTimeScaleCount,
                                             kDefaultTimeScaleIndex)];
    in.gain = g_dGain[ClampIndex(m_cbGain->currentIndex(), kGainCount, kDefaultGainIndex)];
    in.showWindow = m_chkShowWindow->isChecked();
    // Only the visible span of the waveform is taken from the store.
    const double perPixel = in.timeScaleUs * static_cast<double>(m_nSampleRate) * 1e-8;
    const int from = std::max(start, 0);
    const double last = start + (m_dcWave.width() - 4) * perPixel;
    const int to =
        std::isfinite(last) && last + 2 < m_nSamples ? static_cast<int>(last) + 2 : m_nSamples;
    if (to > from) {
        in.samples = SamplesAt(from, to - from);
        in.samplesFirst = from;
    }
    const display::AxisLabels labels = display::DrawWave(m_dcWave, in);
    m_stWave->setSurface(m_dcWave);
    m_stTimeStart->setText(QString::fromStdString(labels.start));
    m_stTimeEnd->setText(QString::fromStdString(labels.end));
    SeekToSample(start);
}

void CAnalyzerDlg::RedrawSpectrum() {
    if (m_dcSpectrum.isNull()) return;
    display::SpectrumInput in;
    in.db = m_bLoaded && m_bNoFrame ? nullptr : m_spectrum->db;
    in.sampleRate = m_nSampleRate;
    in.fftSize = SelFftSize();
    in.hzPerDiv = SelHzPerDiv();
    in.firstBin = m_sliderFreq->value();
    in.cursorOn = m_btnCursor->isChecked();
    in.cursorOffset = m_nCursorOffset;
    in.cursorBin = m_nCursorBin;
    const display::AxisLabels labels = display::DrawSpectrum(m_dcSpectrum, in);
    m_stSpectrum->setSurface(m_dcSpectrum);
    m_stFreqStart->setText(QString::fromStdString(labels.start));
    m_stFreqEnd->setText(QString::fromStdString(labels.end));
}

void CAnalyzerDlg::RedrawStatus() {
    if (m_dcStatus.isNull()) return;
    display::DrawStatus(m_dcStatus, Tr(g_strPlayState[qBound(0, m_nPlayState, 3)]).toStdString());
    m_stStatus->setSurface(m_dcStatus);
}

void CAnalyzerDlg::SetPlayState(int state) {
    m_nPlayState = state;
    RedrawStatus();
}

void CAnalyzerDlg::UpdateCursorBin() {
    m_nCursorBin = display::CursorBinAt(m_sliderFreq->value(), m_nCursorOffset, SelHzPerDiv(),
                                        m_nSampleRate, SelFftSize());
}

void CAnalyzerDlg::OnSelChangeSampleCount(int index) {
    const FftSizeChange change =
        DecideFftSizeChange(ClampIndex(index, kFftSizeCount, 0), m_nSamples);
    if (change.refused) {
        ReportError(kMsgTooFewSamplesForChoice);
    }
    m_cbSampleCount->setCurrentIndex(change.selectedIndex);
    const int pos = m_sliderFreq->value();
    // The new range first, so that the rescaled position is not cut to the old one.
    {
        const QSignalBlocker blocker(m_sliderFreq);
        SetFreqSliderRange(m_sliderFreq, change.size);
    }
    SetSliderPos(m_sliderFreq, RescaleFreqSliderPos(pos, change.size, m_nSampleCountSel));
    Analyze();
    UpdateCursorBin();
    RedrawWave();
    RedrawSpectrum();
    m_nSampleCountSel = change.size;
}

void CAnalyzerDlg::OnSelChangeGain() {
    Analyze();
    RedrawAll();
}

void CAnalyzerDlg::OnSelChangeWindow() {
    Analyze();
    RedrawSpectrum();
}

void CAnalyzerDlg::OnSelChangeTimeScale() { RedrawWave(); }

void CAnalyzerDlg::OnSelChangeFreqScale() {
    UpdateCursorBin();
    RedrawSpectrum();
}

void CAnalyzerDlg::OnCustomDrawTimeSlider() {
    m_view->setFrameStart(m_sliderTime->value());
    if (m_bLoaded) m_nStartSample = m_sliderTime->value();
    if (m_nPlayState != 3 && m_bLoaded && m_nSamples > 0 && m_session) {
        const long double t =
            static_cast<long double>(m_endFrame - m_startFrame) * m_nStartSample / m_nSamples;
        const auto position = static_cast<std::int64_t>(t);
        if (position <= m_endFrame) SeekGraph(position);
    }
    Analyze();
    RedrawAll();
}

void CAnalyzerDlg::OnCustomDrawFreqSlider() {
    UpdateCursorBin();
    RedrawSpectrum();
}

void CAnalyzerDlg::OnCursorButton() {
    m_spinCursor->setEnabled(m_btnCursor->isChecked());
    RedrawSpectrum();
}

void CAnalyzerDlg::OnDeltaPosCursorSpin(int delta) {
    if (display::SpinCursor(delta, m_sliderFreq->value(), SelHzPerDiv(), m_nSampleRate,
                            SelFftSize(), m_stSpectrum->width(), &m_nCursorBin, &m_nCursorOffset)) {
        RedrawSpectrum();
    }
}

QPoint CAnalyzerDlg::ToSpectrumFrame(QPoint clientPoint) const {
    return clientPoint - m_stSpectrum->geometry().topLeft() - QPoint(2, 2);
}

void CAnalyzerDlg::OnMouseMove(QPoint point) {
    const QPoint p = ToSpectrumFrame(point);
    if (m_bDragging) {
        m_client->setCursor(HandCursor(true));
        m_nCursorOffset += p.x() - m_ptDrag.x();
        UpdateCursorBin();
        RedrawSpectrum();
        m_ptDrag = p;
    } else if (display::HitTestCursor(m_btnCursor->isChecked(), m_nCursorOffset, p.x(), p.y(),
                                      m_stSpectrum->height())) {
        m_client->setCursor(HandCursor(false));
    } else {
        m_client->unsetCursor();
    }
}

void CAnalyzerDlg::OnLButtonDown(QPoint point) {
    const QPoint p = ToSpectrumFrame(point);
    if (display::HitTestCursor(m_btnCursor->isChecked(), m_nCursorOffset, p.x(), p.y(),
                               m_stSpectrum->height())) {
        m_ptDrag = p;
        m_bDragging = 1;
        m_client->setCursor(HandCursor(true));
    }
}

void CAnalyzerDlg::OnLButtonUp() { m_bDragging = 0; }

bool CAnalyzerDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_client) {
        switch (event->type()) {
            case QEvent::Resize:
                OnClientResized();
                break;
            case QEvent::MouseMove:
                OnMouseMove(static_cast<QMouseEvent*>(event)->position().toPoint());
                break;
            case QEvent::MouseButtonPress: {
                auto* mouse = static_cast<QMouseEvent*>(event);
                if (mouse->button() == Qt::LeftButton) OnLButtonDown(mouse->position().toPoint());
                break;
            }
            case QEvent::MouseButtonRelease:
                if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) OnLButtonUp();
                break;
            default:
                break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// --- Shell ---

void CAnalyzerDlg::OnFileOpen() {
    if (m_chooseOpenFile) {
        const QString path = m_chooseOpenFile();
        if (!path.isEmpty()) OpenMediaFile(path);
        return;
    }
    QFileDialog dialog(nullptr);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setDefaultSuffix(QStringLiteral("mpg"));
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    const QStringList filters = FileOpenNameFilters();
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.first());
    if (dialog.exec() != QDialog::Accepted) return;
    const QStringList files = dialog.selectedFiles();
    if (!files.isEmpty()) OpenMediaFile(files.first());
}

void CAnalyzerDlg::OpenMediaFile(const QString& path) {
    if (!m_session || m_bShutDown) return;
    // A newer file abandons the one still loading.
    m_load->Abandon();
    m_loadTimer->stop();
    // The previous recording is released (its views let go first) before
    // its graph goes.
    m_model->BeginLoading(path);
    ClearCaptureShading();
    m_timer->stop();
    setWindowTitle(QString::fromLatin1(kStrCaption));
    SetPlayState(0);
    m_nSamples = 0;
    m_bLoaded = 0;
    ClearSpectrum(m_spectrum->db);
    EnableSaveAs(false);
    ClearReadouts();
    m_sliderTime->setTickPosition(QSlider::NoTicks);
    {
        const QSignalBlocker blocker(m_sliderTime);
        m_sliderTime->setValue(0);  // the new file starts at its beginning
    }
    m_view->Reset();
    m_stNoVideo->hide();
    m_stVideo->setSource({});
    // The previous file stops at once; its graph goes in the background.
    RetireSession();
    // The previous file's picture goes at once, also while this one loads.
    RedrawAll();

    m_strLoadingPath = m_model->path().toStdString();
    std::shared_ptr<Poster> poster = m_poster;
    m_load->Start(
        m_engine, m_strLoadingPath,
        [poster](media::MediaSession& session) {
            session.SetEventNotify([poster] { poster->Post(&CAnalyzerDlg::OnGraphNotify); });
            session.SetCommandReported(
                [poster] { poster->Post(&CAnalyzerDlg::OnTransportReported); });
            // The graph only plays; the capture decodes the file beside it.
            session.SetCaptureInGraph(false);
        },
        [poster] { poster->Post(&CAnalyzerDlg::OnLoadDone); });
    m_loadTimer->start(m_nLoadTimeoutMs);
}

bool CAnalyzerDlg::loadPending() const { return m_load && m_load->pending(); }

void CAnalyzerDlg::RetireSession() {
    if (!m_session) return;
    media::Reap(std::move(m_session));
    m_session = std::make_unique<media::MediaSession>(m_engine);
}

void CAnalyzerDlg::OnLoadDone() {
    media::LoadOutcome outcome;
    if (m_bShutDown || !m_load->Take(&outcome)) return;
    m_loadTimer->stop();
    // The load's reports, shown now that the window can show them. A box's
    // own event loop may start another load or close the window meanwhile:
    // this one then yields.
    for (const Report& report : outcome.reports) {
        ReportError(ReportDetails{report.details}, "%s", report.text.c_str());
        if (m_bShutDown || m_load->pending()) {
            media::Reap(std::move(outcome.session));
            return;
        }
    }
    const std::string path = m_strLoadingPath;
    if (Succeeded(ApplyLoad(outcome))) {
        ApplyVolume();
        m_strFilePath = m_model->path().toStdString();
        StartCapture();
        StartPlayback();
        const std::size_t slash = path.find_last_of('/');
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        setWindowTitle(windowTitle() + QStringLiteral(" - [") + QString::fromStdString(name) +
                       QLatin1Char(']'));
    } else {
        m_model->FailLoading(QString::fromStdString(path));
        // The previous file's timer has nothing left to follow.
        m_timer->stop();
        RedrawAll();
    }
}

void CAnalyzerDlg::OnLoadTimeout() {
    if (!m_load->pending() || m_bShutDown) return;
    // The stuck load is left to finish (or not) on its own thread.
    m_load->Abandon();
    media::ReportLoadTimedOut(m_strLoadingPath, std::chrono::milliseconds(m_nLoadTimeoutMs));
    m_model->FailLoading(QString::fromStdString(m_strLoadingPath));
    RedrawAll();
}

HRESULT CAnalyzerDlg::ApplyLoad(media::LoadOutcome& outcome) {
    if (outcome.session) {
        media::Reap(std::move(m_session));
        m_session = std::move(outcome.session);
    }
    const HRESULT hr = outcome.hr;
    const media::LoadedMedia& media = outcome.media;
    if (Failed(hr)) return hr;
    m_loaded = media;

    FreeSampleArrays();
    const std::uint32_t frames = media.frameCount;
    // The store holds only what is shown; the analysed frame is windowed here.
    m_pWindowed = static_cast<double*>(std::calloc(g_nFftSize[kFftSizeCount - 1], sizeof(double)));
    if (!m_pWindowed) {
        FreeSampleArrays();
        RetireSession();
        ReportError(UI_TEXT("ﾒﾓﾘｰが不足しています。  "));
        return -1;
    }
    m_nCapacity = frames;
    m_nChannels = media.channels;
    m_nBitsPerSample = media.bitsPerSample;
    if (media.sampleRate > 0) m_nSampleRate = media.sampleRate;
    m_startFrame = media.startFrame;
    m_endFrame = media.endFrame;
    m_stFileInfo->setText(QString::fromStdString(media.shownInfoText));

    {
        const QSignalBlocker blocker(m_sliderTime);
        m_sliderTime->setRange(0, static_cast<int>(std::min<std::uint32_t>(frames, INT_MAX)));
        PageByFifth(m_sliderTime);
    }
    const int maximum = m_sliderTime->maximum();
    if (frames > 0 && m_nSampleRate > 0) {
        const double seconds = static_cast<double>(frames) / m_nSampleRate;
        const int interval = static_cast<int>(std::floor(maximum / seconds));
        m_sliderTime->setTickInterval(std::max(interval, 1));
        m_sliderTime->setTickPosition(QSlider::TicksAbove);
    }

    if (!m_session->noVideo()) {
        AttachVideo();
    } else {
        m_stNoVideo->show();
        update();
    }
    m_bCaptureComplete = 0;
    m_bReadErrorShown = false;
    return hr;
}

void CAnalyzerDlg::OnFileExit() { close(); }

void CAnalyzerDlg::OnViewSpectrogram() { ShowView(ViewKind::Spectrogram, this, m_model, m_view); }

void CAnalyzerDlg::OnHelpAbout() {
    CAboutDlg about(nullptr);
    about.exec();
}

void CAnalyzerDlg::OnClose() {
    if (m_bShutDown) return;
    m_bShutDown = true;
    if (m_rememberSize)
        SaveWindowSize({isMaximized() ? normalGeometry().size() : size(), isMaximized()});
    m_timer->stop();
    m_loadTimer->stop();
    // A load still running is abandoned; its graph goes with its thread.
    m_load->Abandon();
    m_model->Release();
    ClearCaptureShading();
    m_stVideo->setSource({});
    // The graph stops and goes on a background thread: the window never
    // waits for a pipeline that will not stop.
    media::Reap(std::move(m_session));
    FreeSampleArrays();
    m_nSamples = 0;
}

void CAnalyzerDlg::accept() {
    OnClose();
    QDialog::accept();
}

void CAnalyzerDlg::reject() {
    OnClose();
    QDialog::reject();
}

void CAnalyzerDlg::keyPressEvent(QKeyEvent* event) {
    // Enter presses the push button that has the focus; elsewhere it ends the
    // run like the close box.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            button->click();
            return;
        }
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CAnalyzerDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    RedrawAll();
}

void CAnalyzerDlg::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CAnalyzerDlg::dropEvent(QDropEvent* event) {
    event->acceptProposedAction();
    OnDropFiles(event->mimeData()->urls());
}

void CAnalyzerDlg::OnDropFiles(const QList<QUrl>& urls) {
    // Only the first file of a drop is loaded.
    if (!urls.isEmpty()) OpenMediaFile(urls.first().toLocalFile());
}

// --- Transport ---

}  // namespace vurma::app
