#include "span_spectrum_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <mutex>

#include "analysis/worker_pool.h"
#include "display/rulers.h"
#include "export/csv_writer.h"
#include "export/spectrum_csv.h"
#include "recording_model.h"
#include "translation.h"
#include "view_state.h"

namespace vurma::app {

namespace {

constexpr int kPeakCount = 20;
constexpr double kLowestLogHz = 10.0;
constexpr double kWheelZoom = 1.25;
const SpectrumChannel kChannels[5] = {SpectrumChannel::kMix, SpectrumChannel::kLeft,
                                      SpectrumChannel::kRight, SpectrumChannel::kMid,
                                      SpectrumChannel::kSide};
const QColor kChannelColour[5] = {QColor(0, 90, 200), QColor(0, 150, 60), QColor(200, 40, 40),
                                  QColor(140, 60, 170), QColor(210, 130, 0)};
const WindowShape kShapes[] = {WindowShape::kHann,     WindowShape::kHamming,
                               WindowShape::kBlackman, WindowShape::kBlackmanHarris,
                               WindowShape::kFlatTop,  WindowShape::kRectangular};

QSettings Store() { return QSettings(QStringLiteral("vurma"), QStringLiteral("vurma")); }

int ChannelIndex(SpectrumChannel c) {
    for (int i = 0; i < 5; ++i)
        if (kChannels[i] == c) return i;
    return 0;
}

}  // namespace

// One computation: fed on a pool thread from the captured bytes; the window
// reads its snapshots and, once done, its result.
struct SpanSpectrumWindow::Job {
    std::unique_ptr<SpanAccumulator> acc;
    std::int64_t expectedFrames = 0;
    std::mutex mutex;
    std::condition_variable finished;
    bool started = false;    // the feeder reads the captured bytes
    bool abandoned = false;  // stopped before it started: it reads nothing
    bool done = false;
    SpanSpectrum result;
};

SpanSpectrumWindow::SpanSpectrumWindow(RecordingModel* model, ViewState* state, QWidget* owner)
    : QWidget(owner, Qt::Window), m_model(model), m_state(state) {
    resize(900, 520);
    m_plot = new QWidget(this);
    m_plot->setMinimumSize(400, 250);
    m_plot->setMouseTracking(true);
    m_plot->installEventFilter(this);
    m_plot->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

    m_cbFft = new QComboBox(this);
    for (int n = kSpanFftMinSize; n <= kSpanFftMaxSize; n *= 2)
        m_cbFft->addItem(QString::number(n), n);
    m_cbFft->setCurrentIndex(m_cbFft->findData(kSpanFftDefaultSize));
    m_cbWindow = new QComboBox(this);
    for (WindowShape shape : kShapes)
        m_cbWindow->addItem(QString::fromLatin1(WindowShapeName(shape)));
    const char* channelNames[5] = {"mix", "L", "R", "M", "S"};
    auto* channels = new QHBoxLayout;
    for (int i = 0; i < 5; ++i) {
        m_chkChannel[i] = new QCheckBox(QString::fromLatin1(channelNames[i]), this);
        channels->addWidget(m_chkChannel[i]);
    }
    m_chkChannel[0]->setChecked(true);
    m_chkAverage = new QCheckBox(Tr("平均"), this);
    m_chkMax = new QCheckBox(Tr("最大"), this);
    m_chkFrame = new QCheckBox(Tr("現在のﾌﾚｰﾑ"), this);
    m_chkLog = new QCheckBox(Tr("対数周波数軸(&L)"), this);
    for (QCheckBox* box : {m_chkAverage, m_chkMax, m_chkFrame, m_chkLog}) box->setChecked(true);
    m_spinTop = new QSpinBox(this);
    m_spinTop->setRange(-190, 20);
    m_spinTop->setValue(0);
    m_spinTop->setSuffix(QStringLiteral(" dBFS"));
    m_spinFloor = new QSpinBox(this);
    m_spinFloor->setRange(static_cast<int>(kSpanFloorDb), 10);
    m_spinFloor->setValue(-140);
    m_spinFloor->setSuffix(QStringLiteral(" dBFS"));
    m_spinA4 = new QDoubleSpinBox(this);
    m_spinA4->setRange(kMinA4Hz, kMaxA4Hz);
    m_spinA4->setDecimals(1);
    m_spinA4->setValue(Store().value(QStringLiteral("spectrum/a4"), kDefaultA4Hz).toDouble());
    m_btnReference = new QPushButton(Tr("参照として保持"), this);
    m_btnReference->setCheckable(true);
    m_btnSave = new QPushButton(Tr("CSV保存..."), this);
    m_peakList = new QListWidget(this);
    m_peakList->setMinimumWidth(230);
    m_status = new QLabel(this);
    m_readout = new QLabel(this);

    auto* side = new QGridLayout;
    int row = 0;
    side->addWidget(new QLabel(QStringLiteral("FFT"), this), row, 0);
    side->addWidget(m_cbFft, row++, 1);
    side->addWidget(new QLabel(Tr("窓関数"), this), row, 0);
    side->addWidget(m_cbWindow, row++, 1);
    side->addLayout(channels, row++, 0, 1, 2);
    side->addWidget(m_chkAverage, row, 0);
    side->addWidget(m_chkMax, row++, 1);
    side->addWidget(m_chkFrame, row, 0);
    side->addWidget(m_chkLog, row++, 1);
    side->addWidget(new QLabel(Tr("上限"), this), row, 0);
    side->addWidget(m_spinTop, row++, 1);
    side->addWidget(new QLabel(Tr("下限"), this), row, 0);
    side->addWidget(m_spinFloor, row++, 1);
    side->addWidget(new QLabel(QStringLiteral("A4 Hz"), this), row, 0);
    side->addWidget(m_spinA4, row++, 1);
    side->addWidget(m_btnReference, row, 0);
    side->addWidget(m_btnSave, row++, 1);
    side->addWidget(m_peakList, row++, 0, 1, 2);
    auto* left = new QVBoxLayout;
    left->addWidget(m_plot, 1);
    left->addWidget(m_readout);
    left->addWidget(m_status);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addLayout(side);

    m_timer = new QTimer(this);
    m_timer->setInterval(100);
    connect(m_timer, &QTimer::timeout, this, &SpanSpectrumWindow::OnTick);
    const auto restart = [this] { Restart(); };
    connect(m_cbFft, &QComboBox::currentIndexChanged, this, restart);
    connect(m_cbWindow, &QComboBox::currentIndexChanged, this, restart);
    for (QCheckBox* box : m_chkChannel) connect(box, &QCheckBox::toggled, this, restart);
    for (QCheckBox* box : {m_chkAverage, m_chkMax, m_chkFrame, m_chkLog})
        connect(box, &QCheckBox::toggled, m_plot, qOverload<>(&QWidget::update));
    for (QSpinBox* spin : {m_spinTop, m_spinFloor})
        connect(spin, &QSpinBox::valueChanged, m_plot, qOverload<>(&QWidget::update));
    connect(m_spinA4, &QDoubleSpinBox::valueChanged, this, [this](double hz) {
        Store().setValue(QStringLiteral("spectrum/a4"), hz);
        UpdatePeaks();
    });
    connect(m_btnReference, &QPushButton::toggled, this, [this](bool keep) {
        m_reference = keep ? m_spectrum : SpanSpectrum();
        m_plot->update();
    });
    connect(m_btnSave, &QPushButton::clicked, this, [this] {
        const QString proposed =
            QString::fromStdString(DefaultCsvName(m_model->path().toStdString()));
        const QString path = m_chooseSaveFile
                                 ? m_chooseSaveFile(proposed)
                                 : QFileDialog::getSaveFileName(this, QString(), proposed,
                                                                QStringLiteral("CSV (*.csv)"));
        if (!path.isEmpty()) SaveCsv(path);
    });
    connect(m_peakList, &QListWidget::currentRowChanged, this, [this](int row) {
        m_cursorHz = row >= 0 && row < static_cast<int>(m_peaks.size()) ? m_peaks[row].hz : 0;
        m_plot->update();
    });

    connect(m_model, &RecordingModel::opened, this, [this] {
        UpdateTitle();
        Restart();
    });
    connect(m_model, &RecordingModel::captureEnded, this, restart);
    connect(m_model, &RecordingModel::releasing, this, [this] { Stop(); });
    connect(m_model, &RecordingModel::released, this, [this] {
        UpdateTitle();
        Restart();
    });
    connect(m_state, &ViewState::selectionChanged, this, restart);
    connect(m_state, &ViewState::frameStartChanged, this, [this] {
        if (!isVisible()) return;  // Restart computes it when shown
        UpdateFrame();
        m_plot->update();
    });
    UpdateTitle();
    Restart();
}

SpanSpectrumWindow::~SpanSpectrumWindow() { Stop(); }

bool SpanSpectrumWindow::Computing() const { return m_job != nullptr; }

void SpanSpectrumWindow::UpdateTitle() {
    setWindowTitle(m_model->hasRecording() ? Tr("スペクトル - [%1]").arg(m_model->fileName())
                                           : Tr("スペクトル"));
}

SpanSpectrumSettings SpanSpectrumWindow::Settings() const {
    SpanSpectrumSettings settings;
    settings.fftSize = m_cbFft->currentData().toInt();
    settings.window = kShapes[std::max(0, m_cbWindow->currentIndex())];
    settings.channels.clear();
    const int channels = m_model->format().channels;
    for (int i = 0; i < 5; ++i)
        if (m_chkChannel[i]->isChecked() && HasSpectrumChannel(kChannels[i], channels))
            settings.channels.push_back(kChannels[i]);
    if (settings.channels.empty()) settings.channels.push_back(SpectrumChannel::kMix);
    return settings;
}

// Cancels the computation. A feeder that has not started will read nothing;
// one that has is waited for, which takes at most a chunk and a batch.
void SpanSpectrumWindow::Stop() {
    m_timer->stop();
    if (!m_job) return;
    const std::shared_ptr<Job> job = std::move(m_job);
    job->acc->Cancel();
    std::unique_lock lock(job->mutex);
    if (!job->started) {
        job->abandoned = true;
        return;
    }
    job->finished.wait(lock, [&] { return job->done; });
}

void SpanSpectrumWindow::Restart() {
    Stop();
    m_spectrum = SpanSpectrum();
    m_peaks.clear();
    m_peakList->clear();
    m_status->clear();
    for (int i = 1; i < 5; ++i) m_chkChannel[i]->setEnabled(m_model->format().channels >= 2);
    UpdateFrame();
    m_plot->update();
    if (!m_model->hasRecording()) return;
    if (m_model->stage() != RecordingModel::Stage::Captured) {
        m_status->setText(Tr("読み込みが終わると計算します"));
        return;
    }
    const SpanSpectrumSettings settings = Settings();
    const PcmView pcm = m_model->Pcm();
    const std::uint32_t frames = m_model->framesCaptured();
    std::uint32_t first = 0, count = frames;
    if (const FrameSpan span = m_state->selection(); !span.empty()) {
        first = static_cast<std::uint32_t>(std::clamp<std::int64_t>(span.first, 0, frames));
        count =
            static_cast<std::uint32_t>(std::clamp<std::int64_t>(span.last, first, frames) - first);
    }
    if (count < static_cast<std::uint32_t>(settings.fftSize)) {
        m_status->setText(Tr("区間がFFTの1ﾌﾚｰﾑ(%1ｻﾝﾌﾟﾙ)より短いので、ｽﾍﾟｸﾄﾙを表示できません。")
                              .arg(settings.fftSize));
        return;
    }
    auto job = std::make_shared<Job>();
    job->acc = std::make_unique<SpanAccumulator>(settings, m_model->format().sampleRate,
                                                 PcmFormat{pcm.channels, pcm.bitsPerSample, false},
                                                 &WorkerPool::Shared());
    job->expectedFrames = SpanFrameCount(count, settings.fftSize);
    m_job = job;
    WorkerPool::Shared().Post([job, pcm, first, count] {
        {
            std::lock_guard lock(job->mutex);
            if (job->abandoned) return;
            job->started = true;
        }
        const std::size_t frameBytes =
            static_cast<std::size_t>(pcm.channels) * (pcm.bitsPerSample / 8);
        constexpr std::size_t kChunk = 1 << 16;  // frames
        for (std::size_t done = 0; done < count && !job->acc->Cancelled(); done += kChunk) {
            const std::size_t take = std::min<std::size_t>(kChunk, count - done);
            job->acc->Feed(pcm.data + (first + done) * frameBytes, take * frameBytes);
        }
        SpanSpectrum result = job->acc->Finish();
        std::lock_guard lock(job->mutex);
        job->result = std::move(result);
        job->done = true;
        job->finished.notify_all();
    });
    m_status->setText(Tr("計算中..."));
    m_timer->start();
}

void SpanSpectrumWindow::OnTick() {
    if (!m_job) return;
    bool done = false;
    {
        std::lock_guard lock(m_job->mutex);
        done = m_job->done;
        if (done) m_spectrum = m_job->result;
    }
    if (done) {
        m_job.reset();
        m_timer->stop();
        m_status->clear();
        UpdatePeaks();
    } else {
        m_spectrum = m_job->acc->Snapshot();
        const double part =
            m_job->expectedFrames > 0 ? 100.0 * m_spectrum.frames / m_job->expectedFrames : 0.0;
        m_status->setText(Tr("計算中... %1%").arg(static_cast<int>(part)));
    }
    m_btnSave->setEnabled(!m_job && m_spectrum.frames > 0);
    m_plot->update();
}

void SpanSpectrumWindow::UpdateFrame() {
    m_frame = SpanSpectrum();
    m_btnSave->setEnabled(!m_job && m_spectrum.frames > 0);
    if (!m_model->hasRecording()) return;
    const SpanSpectrumSettings settings = Settings();
    const std::int64_t start = m_state->frameStart();
    if (start < 0 || start + settings.fftSize > m_model->framesCaptured()) return;
    m_frame = ComputeSpanSpectrum(m_model->Pcm(), m_model->format().sampleRate,
                                  static_cast<std::uint32_t>(start),
                                  static_cast<std::uint32_t>(settings.fftSize), settings, nullptr);
}

void SpanSpectrumWindow::UpdatePeaks() {
    m_peaks.clear();
    m_peakList->clear();
    if (m_spectrum.curves.empty()) return;
    m_peaks = FindSpectrumPeaks(m_spectrum.curves[0].averageDb, m_spectrum.HzPerBin(), kPeakCount,
                                kSpanFloorDb, m_spectrum.window);
    for (const SpectrumPeak& peak : m_peaks)
        m_peakList->addItem(
            QStringLiteral("%1 Hz  %2 dBFS  %3")
                .arg(peak.hz, 0, 'f', 2)
                .arg(peak.db, 0, 'f', 2)
                .arg(QString::fromStdString(PitchText(PitchOf(peak.hz, m_spinA4->value())))));
    m_plot->update();
}

bool SpanSpectrumWindow::SaveCsv(const QString& path) {
    if (m_job || m_spectrum.frames == 0) return false;
    return WriteFileWhole(path.toStdString(), BuildSpectrumCsv(m_spectrum)) == kCsvWriteOk;
}

QRect SpanSpectrumWindow::PlotRect() const { return m_plot->rect().adjusted(52, 10, -12, -26); }

double SpanSpectrumWindow::HzAt(double x) const {
    const QRect r = PlotRect();
    const double nyquist = std::max(1, m_model->format().sampleRate) / 2.0;
    const double lo = m_hiHz > 0 ? m_loHz : (m_chkLog->isChecked() ? kLowestLogHz : 0.0);
    const double hi = m_hiHz > 0 ? m_hiHz : nyquist;
    const double t = (x - r.left()) / std::max(1, r.width());
    if (m_chkLog->isChecked()) {
        const double l = std::max(lo, 1.0);
        return l * std::pow(hi / l, t);
    }
    return lo + t * (hi - lo);
}

double SpanSpectrumWindow::XOf(double hz) const {
    const QRect r = PlotRect();
    const double nyquist = std::max(1, m_model->format().sampleRate) / 2.0;
    const double lo = m_hiHz > 0 ? m_loHz : (m_chkLog->isChecked() ? kLowestLogHz : 0.0);
    const double hi = m_hiHz > 0 ? m_hiHz : nyquist;
    double t = 0;
    if (m_chkLog->isChecked()) {
        const double l = std::max(lo, 1.0);
        t = hz > 0 ? std::log(hz / l) / std::log(hi / l) : -1;
    } else {
        t = (hz - lo) / (hi - lo);
    }
    return r.left() + t * r.width();
}

double SpanSpectrumWindow::YOf(double db) const {
    const QRect r = PlotRect();
    const double top = m_spinTop->value(), floor = std::min<double>(m_spinFloor->value(), top - 1);
    return r.top() + (top - db) / (top - floor) * r.height();
}

void SpanSpectrumWindow::Paint() {
    QPainter p(m_plot);
    p.fillRect(m_plot->rect(), Qt::white);
    const QRect r = PlotRect();
    p.setRenderHint(QPainter::Antialiasing, true);
    // Grid and labels: dB every 10 or 20, frequency at round values.
    p.setPen(QColor(225, 225, 225));
    const int top = m_spinTop->value(), floor = m_spinFloor->value();
    const int dbStep = top - floor > 100 ? 20 : 10;
    QFont font = p.font();
    font.setPointSizeF(8);
    p.setFont(font);
    for (int db = top - (top % dbStep + dbStep) % dbStep; db >= floor; db -= dbStep) {
        const double y = YOf(db);
        p.setPen(QColor(225, 225, 225));
        p.drawLine(QPointF(r.left(), y), QPointF(r.right(), y));
        p.setPen(Qt::black);
        p.drawText(QRectF(0, y - 8, r.left() - 4, 16), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(db));
    }
    std::vector<double> marks;
    if (m_chkLog->isChecked()) {
        for (double decade = 1; decade < 100000; decade *= 10)
            for (double m : {1.0, 2.0, 5.0}) marks.push_back(m * decade);
    } else {
        const double step = display::RulerStep((HzAt(r.right()) - HzAt(r.left())) / 8);
        for (double hz = std::ceil(HzAt(r.left()) / step) * step; hz <= HzAt(r.right()); hz += step)
            marks.push_back(hz);
    }
    double lastLabel = -1e9;
    for (double hz : marks) {
        const double x = XOf(hz);
        if (x < r.left() - 0.5 || x > r.right() + 0.5) continue;
        p.setPen(QColor(225, 225, 225));
        p.drawLine(QPointF(x, r.top()), QPointF(x, r.bottom()));
        if (x - lastLabel < 40) continue;
        lastLabel = x;
        p.setPen(Qt::black);
        p.drawText(QRectF(x - 30, r.bottom() + 2, 60, 16), Qt::AlignHCenter | Qt::AlignTop,
                   QString::fromStdString(display::FrequencyLabel(hz)));
    }
    p.setPen(Qt::black);
    p.drawRect(r);
    p.drawText(QRectF(2, 0, r.left(), 10), Qt::AlignLeft | Qt::AlignTop, QStringLiteral("dBFS"));

    // One curve: per pixel column the highest of the bins in it, so that
    // narrow peaks survive at any width.
    p.setClipRect(r);
    const auto curve = [&](const SpanSpectrum& s, const std::vector<double>& db, QPen pen) {
        if (db.empty()) return;
        QPainterPath path;
        bool started = false;
        const double perBin = s.HzPerBin();
        int k = 1;
        for (int x = r.left(); x <= r.right(); ++x) {
            const double hiHz = HzAt(x + 1);
            double best = -1e300;
            bool any = false;
            while (k < s.bins() && k * perBin < hiHz) {
                if (k * perBin >= HzAt(x)) {
                    best = std::max(best, db[k]);
                    any = true;
                }
                ++k;
            }
            if (!any) {
                // Wider bins than pixels: the level between the two bins around.
                const double at = HzAt(x + 0.5) / perBin;
                const int b = static_cast<int>(at);
                if (b < 0 || b + 1 >= s.bins()) continue;
                best = db[b] + (db[b + 1] - db[b]) * (at - b);
            }
            const QPointF point(x + 0.5, YOf(best));
            if (started) {
                path.lineTo(point);
            } else {
                path.moveTo(point);
                started = true;
            }
        }
        p.setPen(pen);
        p.drawPath(path);
    };
    const auto draw = [&](const SpanSpectrum& s, bool dashed) {
        for (const SpectrumCurves& c : s.curves) {
            QColor colour = kChannelColour[ChannelIndex(c.channel)];
            if (m_chkMax->isChecked()) {
                QColor light = colour;
                light.setAlpha(110);
                QPen pen(light, 1);
                if (dashed) pen.setStyle(Qt::DashLine);
                curve(s, c.maxDb, pen);
            }
            if (m_chkAverage->isChecked()) {
                QPen pen(colour, 1.5);
                if (dashed) pen.setStyle(Qt::DashLine);
                curve(s, c.averageDb, pen);
            }
        }
    };
    draw(m_reference, true);
    draw(m_spectrum, false);
    if (m_chkFrame->isChecked())
        for (const SpectrumCurves& c : m_frame.curves)
            curve(m_frame, c.averageDb, QPen(QColor(120, 120, 120), 1));
    if (m_cursorHz > 0) {
        p.setPen(QPen(Qt::black, 1, Qt::DotLine));
        p.drawLine(QPointF(XOf(m_cursorHz), r.top()), QPointF(XOf(m_cursorHz), r.bottom()));
    }
    if (m_dragTo.x() >= 0) {
        p.setPen(QPen(Qt::black, 1, Qt::DashLine));
        p.drawRect(QRect(m_dragFrom, m_dragTo).normalized());
    }
    p.setClipping(false);

    // Legend: the channels, then what the line styles mean.
    QStringList entries;
    std::vector<QColor> colours;
    for (const SpectrumCurves& c : m_spectrum.curves) {
        entries << QString::fromLatin1(SpectrumChannelName(c.channel));
        colours.push_back(kChannelColour[ChannelIndex(c.channel)]);
    }
    if (!m_frame.curves.empty() && m_chkFrame->isChecked()) {
        entries << Tr("現在のﾌﾚｰﾑ");
        colours.push_back(QColor(120, 120, 120));
    }
    if (!m_reference.curves.empty()) {
        entries << Tr("参照 (破線)");
        colours.push_back(Qt::black);
    }
    int y = r.top() + 4;
    for (int i = 0; i < entries.size(); ++i, y += 14) {
        p.setPen(QPen(colours[i], 2));
        p.drawLine(r.right() - 110, y + 7, r.right() - 92, y + 7);
        p.setPen(Qt::black);
        p.drawText(QRect(r.right() - 88, y, 86, 14), Qt::AlignLeft | Qt::AlignVCenter, entries[i]);
    }
}

void SpanSpectrumWindow::ShowReadout(QPoint at) {
    if (!PlotRect().contains(at) || m_spectrum.curves.empty()) {
        m_readout->clear();
        return;
    }
    const double hz = HzAt(at.x());
    const int k = static_cast<int>(std::lround(hz / m_spectrum.HzPerBin()));
    if (k < 0 || k >= m_spectrum.bins()) return;
    QString text =
        QStringLiteral("%1 Hz  %2")
            .arg(hz, 0, 'f', 1)
            .arg(hz > 0 ? QString::fromStdString(PitchText(PitchOf(hz, m_spinA4->value())))
                        : QString());
    for (const SpectrumCurves& c : m_spectrum.curves)
        text += QStringLiteral("  %1: %2 / %3")
                    .arg(QString::fromLatin1(SpectrumChannelName(c.channel)))
                    .arg(c.averageDb[k], 0, 'f', 1)
                    .arg(c.maxDb[k], 0, 'f', 1);
    // The current frame and the reference have bins of their own (their FFT
    // size or rate may differ from the average's).
    const auto binOf = [hz](const SpanSpectrum& s) {
        if (s.HzPerBin() <= 0) return -1;
        const int bin = static_cast<int>(std::lround(hz / s.HzPerBin()));
        return bin >= 0 && bin < s.bins() ? bin : -1;
    };
    if (m_chkFrame->isChecked() && !m_frame.curves.empty()) {
        if (const int b = binOf(m_frame); b >= 0)
            text += QStringLiteral("  %1: %2")
                        .arg(Tr("現在のﾌﾚｰﾑ"))
                        .arg(m_frame.curves.front().averageDb[b], 0, 'f', 1);
    }
    if (!m_reference.curves.empty()) {
        if (const int b = binOf(m_reference); b >= 0)
            for (const SpectrumCurves& c : m_reference.curves)
                text += QStringLiteral("  %1 %2: %3 / %4")
                            .arg(Tr("参照"))
                            .arg(QString::fromLatin1(SpectrumChannelName(c.channel)))
                            .arg(c.averageDb[b], 0, 'f', 1)
                            .arg(c.maxDb[b], 0, 'f', 1);
    }
    m_readout->setText(text + QStringLiteral(" dBFS"));
}

bool SpanSpectrumWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_plot) return QWidget::eventFilter(watched, event);
    switch (event->type()) {
        case QEvent::Paint:
            Paint();
            return true;
        case QEvent::MouseButtonPress: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton) m_dragFrom = mouse->position().toPoint();
            break;
        }
        case QEvent::MouseMove: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->buttons() & Qt::LeftButton) {
                m_dragTo = mouse->position().toPoint();
                m_plot->update();
            }
            ShowReadout(mouse->position().toPoint());
            break;
        }
        case QEvent::MouseButtonRelease: {
            // A dragged rectangle zooms to its frequencies and levels.
            const QRect box = QRect(m_dragFrom, m_dragTo).normalized();
            if (m_dragTo.x() >= 0 && box.width() > 4 && box.height() > 4) {
                const double lo = HzAt(box.left()), hi = HzAt(box.right());
                const QRect r = PlotRect();
                const double topDb = m_spinTop->value(), floorDb = m_spinFloor->value();
                const auto dbAt = [&](int y) {
                    return topDb - (y - r.top()) * (topDb - floorDb) / std::max(1, r.height());
                };
                const int newTop = static_cast<int>(std::ceil(dbAt(box.top())));
                const int newFloor = static_cast<int>(std::floor(dbAt(box.bottom())));
                m_loHz = lo;
                m_hiHz = hi;
                if (newTop > newFloor) {
                    m_spinFloor->setValue(newFloor);
                    m_spinTop->setValue(newTop);
                }
            }
            m_dragFrom = m_dragTo = QPoint(-1, -1);
            m_plot->update();
            break;
        }
        case QEvent::Wheel: {
            const auto* wheel = static_cast<QWheelEvent*>(event);
            const double notches = wheel->angleDelta().y() / 120.0;
            if (notches == 0) return true;
            const double factor = std::pow(kWheelZoom, -notches);
            const double x = wheel->position().x();
            const QRect r = PlotRect();
            const double lo = HzAt(r.left()), hi = HzAt(r.right()), at = HzAt(x);
            const double nyquist = std::max(1, m_model->format().sampleRate) / 2.0;
            if (m_chkLog->isChecked()) {
                m_loHz = std::max(kLowestLogHz, at * std::pow(lo / at, factor));
                m_hiHz = std::min(nyquist, at * std::pow(hi / at, factor));
            } else {
                m_loHz = std::max(0.0, at - (at - lo) * factor);
                m_hiHz = std::min(nyquist, at + (hi - at) * factor);
            }
            if (m_hiHz <= m_loHz) m_loHz = m_hiHz = 0;
            m_plot->update();
            return true;
        }
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

void SpanSpectrumWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Home) {
        m_loHz = m_hiHz = 0;
        m_spinTop->setValue(0);
        m_spinTop->setSuffix(QStringLiteral(" dBFS"));
        m_spinFloor->setValue(-140);
        m_plot->update();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SpanSpectrumWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_job && m_spectrum.frames == 0) Restart();
}

void SpanSpectrumWindow::hideEvent(QHideEvent* event) {
    // A hidden window computes nothing.
    if (m_job) {
        Stop();
        m_spectrum = SpanSpectrum();
    }
    QWidget::hideEvent(event);
}

}  // namespace vurma::app
