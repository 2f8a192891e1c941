// The main dialog's layout (the template's rectangles in dialog units), its
// menus and its growth past the template size.
#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <tuple>

#include "analysis/ui_text.h"
#include "app_strings.h"
#include "dialog_internal.h"
#include "display/plot_frame.h"
#include "display/plots.h"
#include "growing_layout.h"
#include "translation.h"
#include "view_registry.h"
#include "widgets.h"

namespace vurma::app {

namespace {

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
    connect(view->addAction(Tr("スペクトル(&P)")), &QAction::triggered, this,
            [this] { ShowView(ViewKind::SpanSpectrum, this, m_model, m_view); });
    m_actReport = view->addAction(Tr("録音の診断(&R)"));
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

void CAnalyzerDlg::BuildLayout() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(m_menuBar);
    m_client = new QWidget(this);
    m_client->setMinimumSize(DialogUnits(kClientWidthDu), DialogUnits(kClientHeightDu));
    m_client->resize(m_client->minimumSize());
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
    AnchorForGrowth();
}

void CAnalyzerDlg::AnchorForGrowth() {
    // The plots take the extra width (and the spectrum the extra height: its
    // level scale is fixed, so more levels show); what lies right of the
    // waveform's end follows it, what lies below the spectrum moves down, and
    // the right-hand column keeps its size.
    using L = GrowingLayout;
    for (QWidget* w : m_client->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        const QRect r = w->geometry();
        unsigned anchors = L::Fixed;
        if (w == m_stWave || w == m_sliderTime) {
            anchors = L::GrowWidth;
        } else if (w == m_stSpectrum) {
            anchors = L::GrowWidth | L::GrowHeight;
        } else if (w == m_sliderFreq) {
            anchors = L::GrowWidth | L::MoveDown;
        } else if (r.x() >= DialogUnits(213)) {
            anchors = L::MoveRight;
        } else if (r.y() >= DialogUnits(279)) {
            anchors = L::MoveDown | (w == m_stFreqEnd ? unsigned{L::MoveRight} : 0u);
        } else if (r.x() >= DialogUnits(180)) {
            anchors = L::MoveRight;
        }
        m_growth->Add(w, anchors);
    }
}

void CAnalyzerDlg::OnClientResized() {
    if (m_stWave == nullptr || m_stSpectrum == nullptr) return;  // still being laid out
    const QSize extra = m_client->size() - m_client->minimumSize();
    m_growth->Apply(extra);
    const QSize wave = m_stWave->size(), spectrum = m_stSpectrum->size();
    // The level labels continue below -100 dB as far as the spectrum reaches,
    // 20 dB (40 pixels) apart like the template's.
    const int bottomRow = spectrum.height() - 6;
    for (int k = 0;; ++k) {
        const int db = 120 + 20 * k;
        const bool shown = 2 * db <= bottomRow;
        if (!shown && k >= static_cast<int>(m_extraDbLabels.size())) break;
        if (k == static_cast<int>(m_extraDbLabels.size())) {
            QLabel* label = MakeLabel(m_client, QString::number(-db), 184, 271, 17, 8);
            label->setAttribute(Qt::WA_TransparentForMouseEvents);
            label->setContentsMargins(0, 0, 0, 0);
            label->setWordWrap(false);
            m_extraDbLabels.push_back(label);
        }
        QLabel* label = m_extraDbLabels[k];
        label->move(DialogUnits(184) + std::max(extra.width(), 0),
                    DialogUnits(271) + 2 * (db - 100));
        label->setVisible(shown);
    }
    for (auto [frame, surface, size] : {std::tuple{m_stWave, &m_dcWave, wave},
                                        std::tuple{m_stSpectrum, &m_dcSpectrum, spectrum}}) {
        frame->setOuterSize(size.width(), size.height());
        if (!surface->isNull() && surface->size() != size) {
            *surface = display::CreatePlotSurface(size.width(), size.height());
        }
    }
    RedrawAll();
}

void CAnalyzerDlg::RestoreWindowSize() {
    m_rememberSize = true;
    const StoredWindowSize stored = LoadWindowSize();
    if (stored.size.isValid()) resize(stored.size.expandedTo(minimumSizeHint()));
    if (stored.maximised) setWindowState(windowState() | Qt::WindowMaximized);
}

}  // namespace vurma::app
