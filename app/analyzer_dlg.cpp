#include "analyzer_dlg.h"

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
#include "media/async_load.h"
#include "media/background.h"
#include "media/capture_run.h"
#include "media/grabber_callback.h"
#include "media/media_session.h"
#include "spectrogram_window.h"
#include "translation.h"
#include "widgets.h"

namespace vurma::app {

using media::Failed;
using media::HRESULT;
using media::Succeeded;

const char* const g_strPlayState[4] = {"", UI_TEXT("停止中"), UI_TEXT("一時停止中"),
                                       UI_TEXT("再生中...")};

// Media threads post through this; the window cuts it off when it closes,
// so that a late call from a pipeline torn down in the background finds
// nothing to post to.
struct CAnalyzerDlg::Poster {
    std::mutex mutex;
    CAnalyzerDlg* dlg = nullptr;  // guarded by mutex

    void Post(void (CAnalyzerDlg::*handler)()) {
        std::lock_guard lock(mutex);
        if (dlg == nullptr) return;
        CAnalyzerDlg* d = dlg;
        QMetaObject::invokeMethod(
            d, [d, handler] { (d->*handler)(); }, Qt::QueuedConnection);
    }
    void CutOff() {
        std::lock_guard lock(mutex);
        dlg = nullptr;
    }
};

namespace {

constexpr int kTimerPeriodMs = 90;
constexpr int kCaptureProgressMs = 200;
constexpr int kClientWidthDu = 337;
constexpr int kClientHeightDu = 353;

// The File > Open choices: name as listed, then the patterns it covers.
struct FileChoice {
    const char* name;
    const char* patterns;
};
constexpr FileChoice kFileChoices[] = {
    {UI_TEXT("すべてのAVﾌｧｲﾙ"),
     "*.mpg;*.mpe*;*.m1v;*.avi;*.qt;*.mov;*.wav;*.au;*.aif*;*.snd;*.mpa;*.mp1;*.mp2;*.mp3;*.asf;"
     "*.wma;*.wmv;*.dat"},
    {UI_TEXT("MPEG ﾋﾞﾃﾞｵ (*.mpg;*.mpe*;*.m1v)"), "*.mpg;*.mpe*;*.m1v"},
    {UI_TEXT("AVI (Audio-Video Interleaved) (*.avi)"), "*.avi"},
    {UI_TEXT("QuickTime ﾑｰﾋﾞｰ (Ver.2以前) (*.qt;*.mov)"), "*.qt;*.mov"},
    {UI_TEXT("WAV ｵｰﾃﾞｨｵ (*.wav)"), "*.wav"},
    {UI_TEXT("AU ｵｰﾃﾞｨｵ (*.au)"), "*.au"},
    {UI_TEXT("AIFF ｵｰﾃﾞｨｵ (*.aif*)"), "*.aif*"},
    {UI_TEXT("SND ｵｰﾃﾞｨｵ (*.snd)"), "*.snd"},
    {UI_TEXT("MPEG ｵｰﾃﾞｨｵ (*.mpa;*.mp1;*.mp2)"), "*.mpa;*.mp1;*.mp2"},
    {UI_TEXT("MP3 ｵｰﾃﾞｨｵ (*.mp3)"), "*.mp3"},
    {UI_TEXT("ASF ﾋﾞﾃﾞｵ (*.asf)"), "*.asf"},
    {UI_TEXT("WMA (Windows Media Audio) (*.wma)"), "*.wma"},
    {UI_TEXT("WMV (Windows Media Video) (*.wmv)"), "*.wmv"},
    {UI_TEXT("ﾋﾞﾃﾞｵCD (*.dat)"), "*.dat"},
    {UI_TEXT("すべてのﾌｧｲﾙ (*.*)"), "*.*"},
};

constexpr char kMoreMediaPatterns[] =
    ";*.flac;*.ogg;*.oga;*.ogv;*.opus;*.m4a;*.aac;*.mp4;*.m4v;*.mkv;*.mka;*.webm;*.aiff;*.caf;*."
    "ac3";

QRect DuRect(int x, int y, int w, int h) {
    return QRect(DialogUnits(x), DialogUnits(y), DialogUnits(w), DialogUnits(h));
}

QLabel* MakeLabel(QWidget* parent, const QString& text, int x, int y, int w, int h,
                  Qt::Alignment align = Qt::AlignLeft | Qt::AlignTop) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(DuRect(x, y, w, h));
    label->setAlignment(align);
    return label;
}

QComboBox* MakeCombo(QWidget* parent, int x, int y, int w) {
    auto* combo = new QComboBox(parent);
    // The template height includes the drop-down list; the closed box keeps
    // the usual one-line height.
    combo->setGeometry(DialogUnits(x), DialogUnits(y), DialogUnits(w), DialogUnits(12));
    combo->setMaxVisibleItems(13);
    return combo;
}

QPushButton* MakeButton(QWidget* parent, const QString& text, int x, int y, int w, int h,
                        bool checkable = false) {
    auto* button = new QPushButton(text, parent);
    button->setGeometry(DuRect(x, y, w, h));
    button->setCheckable(checkable);
    return button;
}

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

int ClampIndex(int index, int count, int fallback) {
    return (index >= 0 && index < count) ? index : fallback;
}

// PageUp, PageDown and clicks in the groove move a slider by a fifth of its
// range; the arrow keys keep stepping by one.
void PageByFifth(QSlider* slider) {
    slider->setPageStep(std::max(1, (slider->maximum() - slider->minimum()) / 5));
}

// The frequency slider's range for FFT size N: the plot's left edge stops
// at the Nyquist frequency, bin N / 2. Ticks at the two ends only.
void SetFreqSliderRange(QSlider* slider, int N) {
    slider->setRange(1, N / 2);
    slider->setTickInterval(std::max(1, N / 2 - 1));
    PageByFifth(slider);
}

}  // namespace

int DialogUnits(double units) { return static_cast<int>(std::lround(units * 1.5)); }

QStringList FileOpenNameFilters() {
    QStringList filters;
    for (const FileChoice& choice : kFileChoices) {
        QString patterns = QString::fromLatin1(choice.patterns);
        // The first choice covers every supported file: GStreamer also
        // decodes these common formats, which the historical list lacks.
        if (filters.isEmpty()) patterns += QString::fromLatin1(kMoreMediaPatterns);
        // "*.*" means every file; on Linux it would skip names without a dot.
        if (patterns == QStringLiteral("*.*")) patterns = QStringLiteral("*");
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters << Tr(choice.name) + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return filters;
}

CAnalyzerDlg::CAnalyzerDlg(std::shared_ptr<media::IEngine> engine, QWidget* parent)
    : CAnalyzerDlg(DeferEngine{}, parent) {
    AttachEngine(std::move(engine));
}

CAnalyzerDlg::CAnalyzerDlg(DeferEngine, QWidget* parent)
    : QDialog(parent), m_spectrum(std::make_unique<SpectrumArrays>()) {
    QFont font(QStringLiteral("IPAGothic"));
    font.setPixelSize(12);
    setFont(font);
    setWindowIcon(QIcon(QString::fromLatin1(kIconPath)));
    setAcceptDrops(true);
    // Fixed-size window with a caption, system menu, minimise and close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    BuildMenu();
    BuildLayout();
    m_timer = new QTimer(this);
    m_timer->setInterval(kTimerPeriodMs);
    connect(m_timer, &QTimer::timeout, this, [this] { OnTimer(); });
    m_captureTimer = new QTimer(this);
    m_captureTimer->setInterval(kCaptureProgressMs);
    connect(m_captureTimer, &QTimer::timeout, this, [this] { ShowCaptureProgress(); });
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

void CAnalyzerDlg::BuildMenu() {
    m_menuBar = new QMenuBar(this);
    QMenu* file = m_menuBar->addMenu(Tr("ﾌｧｲﾙ(&F)"));
    m_actOpen = file->addAction(Tr("開く(&O)...\tCtrl+O"));
    m_actSaveAs = file->addAction(Tr("名前を付けて保存(&S)...\tCtrl+S"));
    m_actSaveAs->setEnabled(false);
    file->addSeparator();
    m_actExit = file->addAction(Tr("ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)"));
    QMenu* view = m_menuBar->addMenu(Tr("表示(&V)"));
    m_actSpectrogram = view->addAction(Tr("スペクトログラム(&S)"));
    BuildLanguageMenu(view->addMenu(Tr("言語(&L)")));
    QMenu* help = m_menuBar->addMenu(Tr("ﾍﾙﾌﾟ(&H)"));
    m_actAbout = help->addAction(Tr("ﾊﾞｰｼﾞｮﾝ情報(&A)..."));
    // The menu names the keys after the tab; they work anywhere in the window.
    m_actOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    m_actSaveAs->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    for (QAction* action : {m_actOpen, m_actSaveAs}) {
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }
}

void CAnalyzerDlg::BuildLanguageMenu(QMenu* menu) {
    // Each language name shows its own spelling; the mnemonic follows the
    // interface's custom ("日本語(&J)" in Japanese, "&Japanese (日本語)" in
    // English). The choice is kept in the settings and read at the next start.
    auto* group = new QActionGroup(menu);
    const struct {
        QString text;
        LanguageChoice choice;
    } items[] = {{Tr("ｼｽﾃﾑの設定に従う(&S)"), LanguageChoice::System},
                 {Tr("日本語(&J)"), LanguageChoice::Japanese},
                 {Tr("English(&E)"), LanguageChoice::English}};
    const LanguageChoice stored = StoredLanguageChoice();
    for (const auto& item : items) {
        QAction* action = menu->addAction(item.text);
        action->setCheckable(true);
        action->setChecked(item.choice == stored);
        group->addAction(action);
        const LanguageChoice choice = item.choice;
        connect(action, &QAction::triggered, this, [choice] { StoreLanguageChoice(choice); });
        m_actLanguage[static_cast<int>(choice)] = action;
    }
    menu->addSeparator();
    menu->addAction(Tr("次回の起動から切り替わります"))->setEnabled(false);
}

void CAnalyzerDlg::ClearReadouts() {
    m_stFileInfo->clear();
    m_stPeak->clear();
    m_stNote->clear();
    m_strInfoText.clear();
    m_strNoteText.clear();
}

void CAnalyzerDlg::BuildLayout() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(m_menuBar);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_client = new QWidget(this);
    m_client->setFixedSize(DialogUnits(kClientWidthDu), DialogUnits(kClientHeightDu));
    m_client->setMouseTracking(true);
    m_client->installEventFilter(this);
    layout->addWidget(m_client);
    QWidget* c = m_client;

    // Group boxes first so that the controls inside lie above them.
    auto group = [c](const QString& title, int x, int y, int w, int h) {
        auto* box = new GroupFrame(title, c);
        box->setGeometry(DuRect(x, y, w, h));
        box->setAttribute(Qt::WA_TransparentForMouseEvents);
    };
    group(Tr("録音ﾃﾞｰﾀ"), 218, 174, 112, 48);
    group(Tr("周波数分析条件"), 218, 229, 112, 63);
    group(Tr("分析結果"), 217, 300, 113, 40);
    group(QString(), 219, 81, 111, 85);

    auto frame = [c](int x, int y, int w, int h) {
        const QRect r = DuRect(x, y, w, h);
        auto* plot = new display::PlotFrame(r.width(), r.height(), c);
        plot->move(r.topLeft());
        return plot;
    };
    m_stWave = frame(7, 7, 203, 70);
    m_stSpectrum = frame(7, 139, 174, 140);
    m_stStatus = frame(226, 143, 96, 15);
    m_stVideo = new VideoPanel(c);
    m_stVideo->setGeometry(DuRect(223, 7, 100, 70));

    const Qt::Alignment right = Qt::AlignRight | Qt::AlignTop;
    m_stTimeStart = MakeLabel(c, QStringLiteral("0"), 7, 80, 31, 8);
    m_stTimeEnd = MakeLabel(c, QStringLiteral("0"), 184, 80, 28, 8, right);
    m_stFreqStart = MakeLabel(c, QStringLiteral("0"), 7, 283, 35, 8);
    m_stFreqEnd = MakeLabel(c, QStringLiteral("0"), 152, 283, 29, 8, right);
    m_stFileInfo = MakeLabel(c, QStringLiteral(""), 226, 185, 98, 31);
    m_stPeak = MakeLabel(c, QStringLiteral(""), 254, 313, 70, 8, right);
    m_stNote = MakeLabel(c, QStringLiteral(""), 260, 324, 64, 8);
    m_stNoVideo = MakeLabel(c, Tr("映像なし"), 233, 39, 79, 8, Qt::AlignHCenter | Qt::AlignTop);
    m_stNoVideo->setAutoFillBackground(true);  // a grey box over the black panel
    m_stNoVideo->hide();
    for (QLabel* label :
         {m_stTimeStart, m_stTimeEnd, m_stFreqStart, m_stFreqEnd, m_stPeak, m_stNote}) {
        label->setWordWrap(false);
    }

    MakeLabel(c, Tr("時間軸ｽｹｰﾙ"), 13, 117, 42, 8, right);
    MakeLabel(c, Tr("増幅率"), 117, 118, 26, 8, right);
    MakeLabel(c, QStringLiteral("0"), 186, 139, 8, 8);
    MakeLabel(c, QStringLiteral("-20"), 184, 165, 13, 8);
    MakeLabel(c, QStringLiteral("-40"), 183, 192, 13, 8);
    MakeLabel(c, QStringLiteral("-60"), 184, 218, 13, 8);
    MakeLabel(c, QStringLiteral("-80"), 183, 246, 13, 8);
    MakeLabel(c, QStringLiteral("-100"), 184, 271, 17, 8);
    MakeLabel(c, Tr("ﾊﾟ\nﾜ\n|\n \nﾚ\nﾍﾞ\nﾙ"), 201, 167, 8, 60);
    MakeLabel(c, Tr("時間 [sec]"), 90, 80, 46, 8);
    MakeLabel(c, Tr("周波数軸\nｽｹｰﾙ"), 7, 321, 36, 17, right);
    MakeLabel(c, Tr("周波数 [Hz]"), 73, 281, 46, 8);
    MakeLabel(c, QStringLiteral("[dB]"), 196, 233, 16, 8);
    MakeLabel(c, Tr("ﾋﾟｰｸ値"), 224, 313, 26, 8, right);
    MakeLabel(c, Tr("窓関数"), 229, 259, 25, 8);
    MakeLabel(c, Tr("ｻﾝﾌﾟﾙ数"), 223, 244, 31, 10, right);
    MakeLabel(c, Tr("音階"), 226, 325, 24, 8, right);
    for (QLabel* label : c->findChildren<QLabel*>()) {
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        label->setContentsMargins(0, 0, 0, 0);
    }

    m_sliderTime = new TimeSlider(c);
    m_sliderTime->setGeometry(DuRect(7, 89, 203, 22));
    m_sliderTime->setTickPosition(QSlider::TicksAbove);
    m_sliderFreq = new QSlider(Qt::Horizontal, c);
    m_sliderFreq->setGeometry(DuRect(7, 291, 175, 21));
    m_sliderFreq->setTickPosition(QSlider::TicksAbove);
    m_sliderVolume = new QSlider(Qt::Horizontal, c);
    m_sliderVolume->setGeometry(DuRect(224, 121, 71, 16));
    m_sliderVolume->setTickPosition(QSlider::NoTicks);

    m_cbTimeScale = MakeCombo(c, 58, 115, 55);
    m_cbGain = MakeCombo(c, 147, 115, 30);
    m_cbFreqScale = MakeCombo(c, 49, 321, 55);
    m_cbWindow = MakeCombo(c, 257, 257, 63);
    m_cbSampleCount = MakeCombo(c, 257, 240, 63);

    m_spinCursor = new CursorSpin(c);
    m_spinCursor->setGeometry(DuRect(142, 319, 35, 19));
    m_spinCursor->setEnabled(false);
    m_btnCursor = MakeButton(c, Tr("ｶｰｿﾙ"), 113, 320, 23, 19, true);
    m_chkShowWindow = new QCheckBox(Tr("窓を表示する"), c);
    {
        // The template's box is too small for the style's indicator: grow it
        // around the same centre line so nothing is clipped.
        const QRect r = DuRect(235, 277, 59, 8);
        const QSize hint = m_chkShowWindow->sizeHint();
        const int h = std::max(r.height(), hint.height());
        m_chkShowWindow->setGeometry(r.x(), r.center().y() - h / 2,
                                     std::max(r.width(), hint.width()), h);
    }
    m_btnPlay = MakeButton(c, QStringLiteral(">"), 225, 93, 24, 21);
    m_btnPause = MakeButton(c, QStringLiteral("||"), 261, 93, 24, 21);
    m_btnRewind = MakeButton(c, QStringLiteral("|<"), 297, 93, 24, 21);
    m_btnMute = MakeButton(c, Tr("ﾐｭｰﾄ"), 297, 120, 25, 18, true);
    m_btnSearch = MakeButton(c, Tr("ｻｰﾁ"), 184, 111, 25, 21);
    // No push button is the dialog's default: none shows the default ring.
    for (QPushButton* button : c->findChildren<QPushButton*>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
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
    m_capture = std::make_unique<media::CaptureRun>(m_engine);
    setWindowTitle(QString::fromLatin1(kStrCaption));
    m_pWindowed = nullptr;
    m_nSamples = 0;
    m_bLoaded = 0;
    m_pCallBack = nullptr;

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

    connect(m_sliderTime, &QSlider::valueChanged, this, [this] { OnCustomDrawTimeSlider(); });
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

void CAnalyzerDlg::FinishCapture() {
    media::CGrabberCallback* cb = m_pCallBack;
    if (!cb) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_bLoaded = 1;
    cb->m_bCapture.store(0, std::memory_order_release);
    StopCapture();
    const PcmView pcm{cb->m_pData, cb->m_nDataLen.load(std::memory_order_acquire), m_nChannels,
                      m_nBitsPerSample};
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
    media::CGrabberCallback* cb = m_pCallBack;
    if (!cb || m_nSamples <= 0) return;
    const PcmView pcm{cb->m_pData, cb->m_nDataLen.load(std::memory_order_acquire), m_nChannels,
                      m_nBitsPerSample};
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
    if (m_bLoaded) m_nStartSample = m_sliderTime->value();
    if (m_nPlayState != 3 && m_bLoaded && m_nSamples > 0 && m_session) {
        const long double t =
            static_cast<long double>(m_endFrame - m_startFrame) * m_nStartSample / m_nSamples;
        const auto position = static_cast<std::int64_t>(t);
        if (position <= m_endFrame) m_session->SetPositions(position, &m_endFrame);
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
    // The previous file's capture stops before its graph and block go.
    StopCapture();
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
    m_stNoVideo->hide();
    m_stVideo->setSource({});
    // The previous file stops at once; its graph goes in the background.
    emit captureReleasing();
    m_pCallBack = nullptr;
    RetireSession();
    // The previous file's picture goes at once, also while this one loads.
    RedrawAll();

    m_strLoadingPath = path.toStdString();
    std::shared_ptr<Poster> poster = m_poster;
    m_load->Start(
        m_engine, m_strLoadingPath,
        [poster](media::MediaSession& session) {
            session.SetEventNotify([poster] { poster->Post(&CAnalyzerDlg::OnGraphNotify); });
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
        ApplyVolumeToNewGraph();
        m_strFilePath = path;
        StartCapture();
        StartPlayback();
        const std::size_t slash = path.find_last_of('/');
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        setWindowTitle(windowTitle() + QStringLiteral(" - [") + QString::fromStdString(name) +
                       QLatin1Char(']'));
    } else {
        // The previous file's timer has nothing left to follow.
        m_timer->stop();
        RedrawAll();
    }
}

void CAnalyzerDlg::OnLoadTimeout() {
    if (!m_load->pending() || m_bShutDown) return;
    // The stuck load is left to finish (or not) on its own thread.
    m_load->Abandon();
    const int seconds = (m_nLoadTimeoutMs + 999) / 1000;
    char reason[256];
    std::snprintf(reason, sizeof reason, UiText(kMsgLoadTimedOut).c_str(), seconds);
    ReportError(ReportDetails{m_strLoadingPath + "\n" + reason}, kMsgCannotProcess);
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
    m_pCallBack = m_session->callback();

    FreeSampleArrays();
    const std::uint32_t frames = media.frameCount;
    // The store holds only what is shown; the analysed frame is windowed here.
    m_pWindowed = static_cast<double*>(std::calloc(g_nFftSize[kFftSizeCount - 1], sizeof(double)));
    if (!m_pWindowed) {
        FreeSampleArrays();
        m_pCallBack = nullptr;
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
    m_strInfoText = media.infoText;
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

void CAnalyzerDlg::StartCapture() {
    if (!m_capture || !m_pCallBack) return;
    const media::WaveFormat format{m_nChannels, m_nBitsPerSample, m_nSampleRate};
    std::shared_ptr<Poster> poster = m_poster;
    const HRESULT hr = m_capture->Start(m_strFilePath, format, m_pCallBack,
                                        [poster] { poster->Post(&CAnalyzerDlg::OnCaptureNotify); });
    if (Failed(hr)) {
        ReportReadError();
        FinishCapture();
        return;
    }
    m_captureTimer->start();
    ShowCaptureProgress();
}

void CAnalyzerDlg::StopCapture() {
    m_captureTimer->stop();
    if (m_capture) m_capture->Stop();
    static_cast<TimeSlider*>(m_sliderTime)->setCaptured(-1.0);
}

void CAnalyzerDlg::ShowCaptureProgress() {
    if (!m_capture || !m_capture->active() || m_nCapacity == 0) return;
    const double fraction = static_cast<double>(m_capture->FramesCaptured()) / m_nCapacity;
    static_cast<TimeSlider*>(m_sliderTime)->setCaptured(fraction);
}

void CAnalyzerDlg::ReportReadError() {
    if (m_bReadErrorShown) return;
    m_bReadErrorShown = true;
    ReportError(kMsgPlaybackError);
}

void CAnalyzerDlg::OnCaptureNotify() {
    if (!m_capture || m_bShutDown) return;
    media::CaptureEnd end = media::CaptureEnd::Running;
    if (!m_capture->TakeEnd(&end) || m_bLoaded) return;
    // A damaged or vanished file keeps what was captured, with one message.
    if (end != media::CaptureEnd::Complete) ReportReadError();
    m_bCaptureComplete = end == media::CaptureEnd::Complete ? 1 : 0;
    FinishCapture();
    RedrawAll();
}

void CAnalyzerDlg::ApplyVolumeToNewGraph() {
    if (m_bMute) {
        m_session->MuteOn();
    } else {
        m_session->SetVolume(m_sliderVolume->value());
    }
}

const double* CAnalyzerDlg::SamplesAt(int first, int count) {
    if (first < 0 || count <= 0) return nullptr;
    const auto f = static_cast<std::uint32_t>(first);
    const auto n = static_cast<std::uint32_t>(count);
    // While capturing the store holds only the live frame.
    if (!m_bLoaded || !m_pCallBack) return m_samples.Find(f, n);
    const PcmView pcm{m_pCallBack->m_pData, m_pCallBack->m_nDataLen.load(std::memory_order_acquire),
                      m_nChannels, m_nBitsPerSample};
    return m_samples.Get(pcm, f, n);
}

void CAnalyzerDlg::FreeSampleArrays() {
    std::free(m_pWindowed);
    m_pWindowed = nullptr;
    m_samples.Free();
    m_nCapacity = 0;
}

void CAnalyzerDlg::OnFileExit() { close(); }

void CAnalyzerDlg::OnViewSpectrogram() {
    if (m_spectrogram == nullptr) m_spectrogram = new SpectrogramWindow(this);
    m_spectrogram->show();
    m_spectrogram->raise();
    m_spectrogram->activateWindow();
}

SpectrogramSource CAnalyzerDlg::CaptureSource() const {
    SpectrogramSource source;
    if (m_pCallBack == nullptr || m_nPlayState == 0) return source;
    source.pcm = {m_pCallBack->m_pData, m_pCallBack->m_nDataLen.load(std::memory_order_acquire),
                  m_nChannels, m_nBitsPerSample};
    source.sampleRate = m_nSampleRate;
    source.totalFrames = m_nCapacity;
    source.complete = m_bLoaded != 0;
    return source;
}

void CAnalyzerDlg::OnHelpAbout() {
    CAboutDlg about(nullptr);
    about.exec();
}

namespace {

// The save dialog: proposes the CSV name beside the media file and asks
// before an existing file is overwritten (QFileDialog's default).
QString ChooseCsvFile(const QString& proposed) {
    QFileDialog dialog(nullptr);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    dialog.setNameFilters({Tr("ﾃｷｽﾄ ﾌｧｲﾙ (*.csv *.txt)"), Tr("すべてのﾌｧｲﾙ (*)")});
    dialog.selectFile(proposed);
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.selectedFiles().value(0);
}

}  // namespace

void CAnalyzerDlg::ExportCsv() {
    if (!m_actSaveAs->isEnabled()) return;
    const std::size_t slash = m_strFilePath.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : m_strFilePath.substr(0, slash + 1);
    const QString proposed = QString::fromStdString(folder + DefaultCsvName(m_strFilePath));
    const QString path = m_chooseSaveFile ? m_chooseSaveFile(proposed) : ChooseCsvFile(proposed);
    if (path.isEmpty()) return;

    // The file shows what the window shows: the readouts and labels as
    // displayed, the settings as selected, the current spectrum. Texts are
    // written in Japanese whatever the interface language.
    CsvInput in;
    in.mediaPath = m_strFilePath;
    in.infoText = m_strInfoText;
    in.startText = m_stTimeStart->text().toStdString();
    in.gain = g_dGain[ClampIndex(m_cbGain->currentIndex(), kGainCount, kDefaultGainIndex)];
    in.fftSize = SelFftSize();
    in.windowName = g_strWindowName[ClampIndex(m_cbWindow->currentIndex(), kOfferedWindowCount,
                                               kDefaultWindowIndex)];
    in.peakText = m_stPeak->text().toStdString();
    in.noteText = m_strNoteText;
    in.sampleRate = m_nSampleRate;
    in.spectrumDb = m_spectrum->db;
    WriteCsvFile(path.toStdString(), BuildCsvText(in));
}

void CAnalyzerDlg::OnClose() {
    if (m_bShutDown) return;
    m_bShutDown = true;
    m_timer->stop();
    m_loadTimer->stop();
    // A load still running is abandoned; its graph goes with its thread.
    m_load->Abandon();
    emit captureReleasing();
    StopCapture();
    m_stVideo->setSource({});
    // The graph stops and goes on a background thread: the window never
    // waits for a pipeline that will not stop.
    media::Reap(std::move(m_session));
    m_pCallBack = nullptr;
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

void CAnalyzerDlg::StartPlayback() {
    m_timer->start(kTimerPeriodMs);
    m_session->RunGraph();
    SetPlayState(3);
}

void CAnalyzerDlg::StopAndRewind() {
    m_timer->stop();
    m_session->StopAndRewind();
    SetSliderPos(m_sliderTime, 0);
    SetPlayState(1);
}

void CAnalyzerDlg::OnPlay() {
    if (m_nPlayState == 0 || !m_pCallBack) return;
    StartPlayback();
}

void CAnalyzerDlg::OnPause() {
    if (m_nPlayState == 2) {
        m_session->RunGraph();
        SetPlayState(3);
    } else if (m_nPlayState == 3) {
        m_session->PauseGraph();
        SetPlayState(2);
    }
}

void CAnalyzerDlg::OnRewind() {
    if (m_nPlayState == 0) return;
    StopAndRewind();
    RedrawAll();
    m_session->RunGraph();
    m_session->PauseGraph();
}

void CAnalyzerDlg::OnMute() {
    m_bMute = 1 - m_bMute;
    m_btnMute->setChecked(m_bMute != 0);
    if (m_bMute) {
        m_session->MuteOn();
    } else {
        // Releasing mute returns to the slider's level.
        m_session->SetVolume(m_sliderVolume->value());
    }
}

void CAnalyzerDlg::OnCustomDrawVolume() {
    if (!m_session || m_bMute) return;
    m_session->SetVolume(m_sliderVolume->value());
}

void CAnalyzerDlg::OnTimer() {
    if (m_nPlayState != 3 || !m_session) return;
    std::int64_t t = 0;
    if (Failed(m_session->GetCurrentPosition(&t)) || t >= m_endFrame) return;
    // A position the user holds is not snapped back to the playing one.
    if (!m_bHoldingTime) {
        const int range = m_sliderTime->maximum();
        SetSliderPos(m_sliderTime,
                     static_cast<int>(static_cast<double>(range) * static_cast<double>(t) /
                                      static_cast<double>(m_endFrame)));
    }
    if (m_bLoaded) return;
    // Live frame at the playing position from the bytes captured so far.
    const int n = SelFftSize();
    media::CGrabberCallback* cb = m_pCallBack;
    if (!cb || !m_pWindowed || static_cast<std::uint32_t>(n) > m_nCapacity || m_nChannels <= 0)
        return;
    m_nSamples = n;
    m_nStartSample = 0;
    const PcmView pcm{cb->m_pData, cb->m_nDataLen.load(std::memory_order_acquire), m_nChannels,
                      m_nBitsPerSample};
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
        m_session->RunGraph();
        m_session->PauseGraph();
    }
}

HRESULT CAnalyzerDlg::SeekToSample(int sliderPos) {
    if (!m_session || !m_bLoaded || m_nSamples <= 0 || m_session->noVideo() || m_nPlayState == 3) {
        return media::S_FALSE;
    }
    const auto t = static_cast<std::int64_t>(static_cast<double>(m_endFrame - m_startFrame) *
                                             sliderPos / m_nSamples);
    return m_session->SetPositions(t, &m_endFrame);
}

void CAnalyzerDlg::PollVideo() {
    if (!m_bShutDown) m_stVideo->poll();
}

void CAnalyzerDlg::HoldTimePosition(bool held) {
    const bool letGo = m_bHoldingTime && !held;
    m_bHoldingTime = held;
    if (letGo) SeekPlaybackToSlider();
}

void CAnalyzerDlg::SeekPlaybackToSlider() {
    const int range = m_sliderTime->maximum();
    if (m_nPlayState != 3 || !m_session || range <= 0 || m_endFrame <= 0) return;
    // The inverse of the timer's mapping from the playing position.
    const auto t = static_cast<std::int64_t>(static_cast<long double>(m_endFrame) *
                                             m_sliderTime->sliderPosition() / range);
    m_session->SetPositions(t, &m_endFrame);
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

}  // namespace vurma::app
