#include "report_window.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <condition_variable>
#include <mutex>

#include "analysis/recording_report.h"
#include "analysis/worker_pool.h"
#include "app/translation.h"
#include "media/stored_format.h"
#include "recording_model.h"

namespace vurma::app {

// One measuring run. The worker reads the recording's bytes only until
// `bytesDone`; the window waits for that alone before the bytes are freed.
// `window` is cleared when the window goes, so a late result is dropped.
struct ReportWindow::Job {
    std::atomic<bool> cancel{false};
    std::mutex mutex;
    std::condition_variable cv;
    bool reading = false;    // guarded by mutex: the bytes are being read
    bool bytesDone = false;  // guarded by mutex
    ReportWindow* window;    // guarded by mutex
    explicit Job(ReportWindow* w) : window(w) {}
};

ReportWindow::ReportWindow(RecordingModel* model, ViewState*, QWidget* owner)
    : QWidget(owner, Qt::Window), model_(model) {
    setWindowTitle(Tr("録音の診断"));
    status_ = new QLabel(this);
    table_ = new QTableWidget(0, 2, this);
    table_->horizontalHeader()->hide();
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    copy_ = new QPushButton(Tr("コピー"), this);
    copy_->setEnabled(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(status_, 1);
    buttons->addWidget(copy_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_, 1);
    layout->addLayout(buttons);
    resize(520, 640);

    connect(copy_, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(QString::fromStdString(json_)); });
    connect(model_, &RecordingModel::loading, this, [this] {
        Cancel();
        Clear({});
        Refresh();
    });
    connect(model_, &RecordingModel::captureEnded, this, [this] { Refresh(); });
    connect(model_, &RecordingModel::releasing, this, [this] { Cancel(); });
    connect(model_, &RecordingModel::released, this, [this] {
        Clear({});
        Refresh();
    });
    Refresh();
}

ReportWindow::~ReportWindow() { Cancel(); }

bool ReportWindow::computing() const { return job_ != nullptr; }

void ReportWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Refresh();
}

void ReportWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // Nothing is computed while the window is closed.
    if (job_ != nullptr) {
        Cancel();
        Clear({});
    }
}

void ReportWindow::Clear(const QString& status) {
    json_.clear();
    table_->setRowCount(0);
    copy_->setEnabled(false);
    status_->setText(status);
}

void ReportWindow::Refresh() {
    if (!isVisible() || job_ != nullptr || !json_.empty()) return;
    if (model_->stage() != RecordingModel::Stage::Captured) {
        Clear(model_->hasRecording() ? Tr("取り込みが終わるのを待っています...") : QString());
        return;
    }
    Clear(Tr("計算しています..."));
    const RecordingModel::Format& f = model_->format();
    const PcmView pcm = model_->Pcm();
    const PcmLayout layout{f.channels, f.bitsPerSample, f.sampleRate};
    const std::string path = model_->path().toStdString();
    auto job = std::make_shared<Job>(this);
    job_ = job;
    WorkerPool::Shared().Post([job, pcm, layout, path] {
        {
            // A run cancelled before it started never touches the bytes.
            std::lock_guard lock(job->mutex);
            if (job->cancel.load(std::memory_order_acquire)) return;
            job->reading = true;
        }
        RecordingReport report = MeasurePcm(pcm.data, pcm.dataLen, layout, &job->cancel);
        {
            std::lock_guard lock(job->mutex);
            job->bytesDone = true;
        }
        job->cv.notify_all();
        if (job->cancel.load(std::memory_order_acquire)) return;
        report.file = path;
        StoredFormat stored;
        if (media::ProbeStoredFormat(path, &stored)) ApplyStoredFormat(&report, stored);
        std::lock_guard lock(job->mutex);
        if (job->window == nullptr || job->cancel.load(std::memory_order_acquire)) return;
        QMetaObject::invokeMethod(
            job->window,
            [window = job->window, job, report] {
                if (window->job_ != job) return;  // a later run replaced this one
                window->job_.reset();
                window->Show(report);
            },
            Qt::QueuedConnection);
    });
}

void ReportWindow::Cancel() {
    const std::shared_ptr<Job> job = std::move(job_);
    job_.reset();
    if (job == nullptr) return;
    // Only the bytes matter: the measuring stops at its next chunk; a run
    // not started yet never reads them.
    std::unique_lock lock(job->mutex);
    job->cancel.store(true, std::memory_order_release);
    job->window = nullptr;
    job->cv.wait(lock, [&] { return !job->reading || job->bytesDone; });
}

void ReportWindow::Show(const RecordingReport& report) {
    json_ = ReportJson(report);
    const auto rows = ReportRows(report, UiText);
    table_->setRowCount(static_cast<int>(rows.size()));
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
        table_->setItem(i, 0, new QTableWidgetItem(QString::fromStdString(rows[i].first)));
        table_->setItem(i, 1, new QTableWidgetItem(QString::fromStdString(rows[i].second)));
    }
    table_->resizeColumnToContents(0);
    copy_->setEnabled(true);
    status_->clear();
    emit reportShown();
}

}  // namespace vurma::app
