#include "spectrogram_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "analysis/analysis_pass.h"
#include "analysis/report_error.h"
#include "analysis/window_functions.h"
#include "analysis/worker_pool.h"
#include "display/spectrogram_image.h"
#include "export/csv_writer.h"
#include "recording_model.h"
#include "translation.h"
#include "view_state.h"

namespace vurma::app {

namespace {

constexpr int kTickMs = 200;         // capture progress and the picture's refresh
constexpr double kWheelZoom = 1.25;  // span factor per wheel notch
constexpr int kMinDbRange = 10;      // top and floor stay this far apart

}  // namespace

SpectrogramWindow::SpectrogramWindow(RecordingModel* model, ViewState* state, QWidget* owner)
    : QWidget(owner, Qt::Window), m_model(model), m_state(state) {
    resize(900, 560);
    auto* layout = new QVBoxLayout(this);
    auto* menuBar = new QMenuBar(this);
    layout->setMenuBar(menuBar);
    QMenu* file = menuBar->addMenu(Tr("ﾌｧｲﾙ(&F)"));
    m_actSave = file->addAction(Tr("PNG形式で保存(&S)..."));
    connect(m_actSave, &QAction::triggered, this, [this] { OnSavePng(); });
    file->addSeparator();
    connect(file->addAction(Tr("閉じる(&C)")), &QAction::triggered, this, [this] { close(); });

    m_plot = new QWidget(this);
    m_plot->setMinimumSize(300, 160);
    m_plot->setMouseTracking(true);
    m_plot->setAttribute(Qt::WA_OpaquePaintEvent);
    m_plot->installEventFilter(this);
    layout->addWidget(m_plot, 1);
    m_scroll = new QScrollBar(Qt::Horizontal, this);
    layout->addWidget(m_scroll);

    auto* controls = new QHBoxLayout;
    layout->addLayout(controls);
    m_chkLog = new QCheckBox(Tr("対数周波数軸(&L)"), this);
    controls->addWidget(m_chkLog);
    auto spin = [&](const QString& label, int value) {
        controls->addWidget(new QLabel(label, this));
        auto* box = new QSpinBox(this);
        box->setRange(-300, 60);
        box->setSingleStep(10);
        box->setValue(value);
        box->setSuffix(QStringLiteral(" dB"));
        controls->addWidget(box);
        return box;
    };
    m_spinTop = spin(Tr("上限"), static_cast<int>(kDefaultTopDb));
    m_spinFloor = spin(Tr("下限"), static_cast<int>(kDefaultFloorDb));
    LimitDbRange();
    for (QSpinBox* box : {m_spinTop, m_spinFloor}) {
        connect(box, &QSpinBox::valueChanged, this, [this] {
            LimitDbRange();
            m_plot->update();
        });
    }
    auto* whole = new QPushButton(Tr("全体(&W)"), this);
    whole->setToolTip(QStringLiteral("Home"));
    controls->addWidget(whole);
    m_btnSave = new QPushButton(Tr("PNG保存(&P)..."), this);
    controls->addWidget(m_btnSave);
    m_readout = new QLabel(this);
    m_readout->setMinimumWidth(320);
    controls->addWidget(m_readout, 1);

    m_timer = new QTimer(this);
    m_timer->setInterval(kTickMs);  // runs while the window is shown
    connect(m_timer, &QTimer::timeout, this, [this] { OnTick(); });
    m_restartTimer = new QTimer(this);
    m_restartTimer->setSingleShot(true);
    connect(m_restartTimer, &QTimer::timeout, this, [this] { Restart(); });

    connect(m_chkLog, &QCheckBox::toggled, this, [this] { Restart(); });
    connect(whole, &QPushButton::clicked, this, [this] { ShowWhole(); });
    connect(m_btnSave, &QPushButton::clicked, this, [this] { OnSavePng(); });
    connect(m_scroll, &QScrollBar::valueChanged, this,
            [this](int first) { SetSpan(first, first + (m_last - m_first)); });
    // The shared analysis frame, FFT size and window function; the recording.
    connect(m_state, &ViewState::frameStartChanged, m_plot, [this] { m_plot->update(); });
    connect(m_state, &ViewState::frameSettingsChanged, this, [this] { Restart(); });
    connect(m_model, &RecordingModel::releasing, this, [this] { ReleaseCapture(); });
    for (auto signal : {&RecordingModel::opened, &RecordingModel::released}) {
        connect(m_model, signal, this, [this] {
            if (isVisible()) OnTick();
        });
    }
    connect(m_model, &RecordingModel::progress, this, [this] {
        if (isVisible()) OnTick();
    });
    connect(m_model, &RecordingModel::captureEnded, this, [this] {
        if (isVisible()) OnTick();
    });
    EnableSave();
}

SpectrogramWindow::~SpectrogramWindow() { StopWorker(); }

void SpectrogramWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_timer->start();
    OnTick();
}

void SpectrogramWindow::hideEvent(QHideEvent* event) {
    // A hidden window computes nothing; it carries on when shown again.
    m_timer->stop();
    StopWorker();
    m_state->setPositionHeld(false);
    QWidget::hideEvent(event);
}

void SpectrogramWindow::ReleaseCapture() {
    StopWorker();
    m_source = {};
    m_plan.reset();
    m_levels.reset();
    EnableSave();
    m_plot->update();
}

bool SpectrogramWindow::Computing() const { return m_run != nullptr && m_run->Busy(); }

void SpectrogramWindow::EnableSave() {
    const bool picture = m_plan != nullptr && m_source.pcm.data != nullptr &&
                         m_source.sampleRate > 0 && m_model->hasRecording();
    m_actSave->setEnabled(picture);
    m_btnSave->setEnabled(picture);
}

void SpectrogramWindow::LimitDbRange() {
    const QSignalBlocker top(m_spinTop), floor(m_spinFloor);
    m_spinTop->setMinimum(m_spinFloor->value() + kMinDbRange);
    m_spinFloor->setMaximum(m_spinTop->value() - kMinDbRange);
}

QRect SpectrogramWindow::PlotRect() const { return display::SpectrogramPlotRect(m_plot->size()); }

double SpectrogramWindow::FrameAtX(int x) const {
    return m_plan ? m_plan->FrameAtX(x - PlotRect().left() + 0.5) : 0.0;
}

double SpectrogramWindow::WholeLength() const {
    const double captured = CompleteFrames(m_source.pcm);
    return std::max(
        1.0, m_source.complete ? captured : std::max<double>(m_source.totalFrames, captured));
}

// Follows the capture: a new recording starts over, a growing one gets its
// new columns computed, a finished one is laid out for its true length.
void SpectrogramWindow::OnTick() {
    const QString title = Tr("スペクトログラム");
    setWindowTitle(!m_model->hasRecording() || m_model->path().isEmpty()
                       ? title
                       : title + QStringLiteral(" - [") + m_model->fileName() + QLatin1Char(']'));

    const SpectrogramSource now = m_model->Source();
    if (!m_plan || now.pcm.data != m_source.pcm.data || now.sampleRate != m_source.sampleRate) {
        StopWorker();
        m_source = now;
        m_whole = true;
        Restart();
        return;
    }
    if (m_stale) {
        m_source = now;
        Restart();
        return;
    }
    if (Computing()) {
        m_plot->update();  // show the columns done so far
        return;
    }
    if (m_run) {
        m_run.reset();
        m_plot->update();  // the last columns of the finished run
    }
    const bool ended = now.complete && !m_source.complete;
    m_source = now;
    // The announced length is seldom exact; a new layout is needed only when
    // the true one differs by a visible part of a column.
    const double columnFrames = (m_last - m_first) / std::max(PlotRect().width(), 1);
    if (ended && m_whole && std::fabs(WholeLength() - m_last) > columnFrames / 100) {
        Restart();
    } else if (!m_levels->AllDone() && (CompleteFrames(now.pcm) != m_framesSeen || now.complete)) {
        StartWorker();
    }
}

void SpectrogramWindow::Restart() {
    StopWorker();
    // A hidden window lays out anew once it is shown again.
    m_stale = !isVisible();
    if (m_stale) return;
    const QRect plot = PlotRect();
    if (m_whole) {
        m_first = 0;
        m_last = WholeLength();
    }
    SpectrogramSettings settings;
    settings.fftIndex = std::clamp(m_state->fftIndex(), 0, kFftSizeCount - 1);
    settings.windowIndex = std::clamp(m_state->windowIndex(), 0, kOfferedWindowCount - 1);
    settings.logFrequency = m_chkLog->isChecked();
    m_plan = std::make_shared<SpectrogramPlan>(settings, std::max(m_source.sampleRate, 1), m_first,
                                               m_last, plot.width(), plot.height());
    m_levels = std::make_shared<SpectrogramLevels>(plot.width(), plot.height());
    UpdateScrollBar();
    EnableSave();
    if (m_source.pcm.data != nullptr && m_source.sampleRate > 0) StartWorker();
    m_plot->update();
    if (m_hover.x() >= 0) ShowReadout(m_hover);  // the time under the pointer has changed
}

void SpectrogramWindow::StartWorker() {
    if (Computing() || !m_plan || !isVisible()) return;
    m_framesSeen = CompleteFrames(m_source.pcm);
    WorkerPool& pool = WorkerPool::Shared();
    m_run = std::make_unique<SpectrogramRun>(pool, m_plan, m_levels, m_source, pool.threads());
}

void SpectrogramWindow::StopWorker() { m_run.reset(); }

void SpectrogramWindow::ShowWhole() {
    m_whole = true;
    Restart();
}

void SpectrogramWindow::SetSpan(double first, double last) {
    const double whole = WholeLength();
    const double span = std::min(last - first, whole);
    m_first = std::clamp(first, 0.0, whole - span);
    m_last = m_first + span;
    m_whole = span >= whole;
    Restart();
}

void SpectrogramWindow::Zoom(QPoint at, double factor) {
    if (!m_plan || m_plan->columns() <= 0) return;
    const QRect plot = PlotRect();
    // FrameAtX reads the middle of the pixel: the share is taken there too,
    // so the time under the pointer stays exactly under it.
    const double share = std::clamp((at.x() - plot.left() + 0.5) / m_plan->columns(), 0.0, 1.0);
    const double frame = FrameAtX(at.x());
    // A recording shorter than the plot is wide shows whole (clamp needs lo <= hi).
    const double whole = WholeLength();
    const double span = std::clamp((m_last - m_first) * factor,
                                   std::min(static_cast<double>(plot.width()), whole), whole);
    SetSpan(frame - share * span, frame - share * span + span);
}

void SpectrogramWindow::UpdateScrollBar() {
    const QSignalBlocker blocker(m_scroll);
    const double span = m_last - m_first;
    m_scroll->setRange(0, static_cast<int>(std::max(0.0, WholeLength() - span)));
    m_scroll->setPageStep(static_cast<int>(span));
    m_scroll->setSingleStep(std::max(1, static_cast<int>(span / 10)));
    m_scroll->setValue(static_cast<int>(m_first));
}

void SpectrogramWindow::MoveSlider(int x) {
    if (!m_plan || m_source.sampleRate <= 0) return;
    const double frame = std::clamp(FrameAtX(x), 0.0, WholeLength() - 1);
    m_state->setFrameStart(static_cast<std::int64_t>(frame));
}

void SpectrogramWindow::ShowReadout(QPoint at) {
    const QRect plot = PlotRect();
    const int x = at.x() - plot.left(), y = at.y() - plot.top();
    // A plot grown since the picture was laid out has no levels or axis yet.
    if (!m_plan || m_source.sampleRate <= 0 || !plot.contains(at) || x >= m_plan->columns() ||
        y >= m_plan->rows()) {
        m_readout->clear();
        return;
    }
    const int rate = m_source.sampleRate;
    const int N = m_plan->fftSize();
    const double hz = m_plan->axis().HzAt(y + 0.5);
    const float* column = m_levels ? m_levels->Column(x) : nullptr;
    const float level = column != nullptr ? column[y] : NAN;
    const int bin = static_cast<int>(std::lround(hz * N / rate));
    QString text = QString::asprintf("%.3f s   %.0f Hz   ", FrameAtX(at.x()) / rate, hz);
    text += std::isfinite(level) ? QString::asprintf("%.1f dB", level) : QStringLiteral("- dB");
    text +=
        QStringLiteral("   ") + QString::fromStdString(FormatNote(bin, N, rate, UiText)).trimmed();
    m_readout->setText(text);
}

QImage SpectrogramWindow::Picture() const {
    QImage image(m_plot->size(), QImage::Format_RGB32);
    display::SpectrogramPicture picture;
    picture.plan = m_plan.get();
    picture.levels = m_levels.get();
    picture.sampleRate = m_source.sampleRate;
    picture.topDb = m_spinTop->value();
    picture.floorDb = std::min<double>(m_spinFloor->value(), picture.topDb - kMinDbRange);
    // Nothing is computed for a recording shorter than one FFT frame: say so.
    if (m_plan && m_source.complete && m_source.pcm.data != nullptr &&
        CompleteFrames(m_source.pcm) < static_cast<std::uint32_t>(m_plan->fftSize()))
        picture.notice = Tr("録音が短すぎて分析できません");
    display::DrawSpectrogram(image, picture);
    return image;
}

void SpectrogramWindow::Paint() {
    const QImage image = Picture();

    QPainter p(m_plot);
    p.drawImage(0, 0, image);
    if (!m_plan || m_source.sampleRate <= 0) return;
    // The main window's analysis frame: its N samples from the slider position.
    const QRect plot = PlotRect();
    const double start = static_cast<double>(m_state->frameStart());
    const int x0 = plot.left() + static_cast<int>(std::floor(m_plan->XOfFrame(start)));
    const int x1 =
        plot.left() + static_cast<int>(std::ceil(m_plan->XOfFrame(start + m_plan->fftSize())));
    if (x1 < plot.left() || x0 > plot.right()) return;
    p.setClipRect(plot);
    p.fillRect(QRect(x0, plot.top(), std::max(x1 - x0, 1), plot.height()), QColor(0, 255, 255, 70));
    p.setPen(QColor(0, 255, 255));
    p.drawLine(x0, plot.top(), x0, plot.bottom());
}

bool SpectrogramWindow::SavePng(const QString& path) {
    const QImage image = Picture();
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && image.save(&file, "PNG", display::kPngQuality) &&
        file.commit())
        return true;
    ReportError(kMsgCsvCannotCreate, path.toStdString().c_str());
    return false;
}

void SpectrogramWindow::OnSavePng() {
    EnableSave();
    if (!m_actSave->isEnabled()) return;
    const QString proposed = m_model->path() + QStringLiteral(".png");
    QString path;
    if (m_chooseSaveFile) {
        path = m_chooseSaveFile(proposed);
    } else {
        path =
            QFileDialog::getSaveFileName(this, QString(), proposed, QStringLiteral("PNG (*.png)"));
    }
    if (!path.isEmpty()) SavePng(path);
}

bool SpectrogramWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_plot) return QWidget::eventFilter(watched, event);
    switch (event->type()) {
        case QEvent::Paint:
            Paint();
            return true;
        case QEvent::Resize:
            m_restartTimer->start(150);  // once the size settles
            break;
        case QEvent::MouseButtonPress:
        case QEvent::MouseMove: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const QPoint at = mouse->position().toPoint();
            if (event->type() == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton)
                m_state->setPositionHeld(true);  // playback follows on release
            if (mouse->buttons() & Qt::LeftButton) MoveSlider(at.x());
            m_hover = at;
            ShowReadout(at);
            break;
        }
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
                m_state->setPositionHeld(false);
            break;
        case QEvent::Leave:
            m_hover = QPoint(-1, -1);
            m_readout->clear();
            break;
        case QEvent::Wheel: {
            const auto* wheel = static_cast<QWheelEvent*>(event);
            const double notches = wheel->angleDelta().y() / 120.0;
            m_hover = wheel->position().toPoint();
            if (notches != 0) Zoom(m_hover, std::pow(kWheelZoom, -notches));
            return true;
        }
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

void SpectrogramWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Home) {
        ShowWhole();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace vurma::app
