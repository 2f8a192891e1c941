#include "recording_model.h"

#include <QFileInfo>
#include <utility>

#include "media/grabber_callback.h"
#include "media/media_session.h"

namespace vurma::app {

namespace {
constexpr int kProgressMs = 200;
}

RecordingModel::RecordingModel(QObject* parent) : QObject(parent) {
    progressTimer_.setInterval(kProgressMs);
    connect(&progressTimer_, &QTimer::timeout, this, [this] {
        if (stage_ == Stage::Capturing) emit progress(framesCaptured());
    });
}

RecordingModel::~RecordingModel() { Release(); }

QString RecordingModel::fileName() const { return QFileInfo(path_).fileName(); }

PcmView RecordingModel::Pcm() const {
    if (!hasRecording() || block_ == nullptr) return {};
    return {block_->m_pData, block_->m_nDataLen.load(std::memory_order_acquire), format_.channels,
            format_.bitsPerSample};
}

std::uint32_t RecordingModel::framesCaptured() const {
    const PcmView pcm = Pcm();
    return pcm.channels > 0 && pcm.bitsPerSample >= 8 ? CompleteFrames(pcm) : 0;
}

SpectrogramSource RecordingModel::Source() const {
    SpectrogramSource source;
    if (!hasRecording()) return source;
    source.pcm = Pcm();
    source.sampleRate = format_.sampleRate;
    source.totalFrames = format_.frameCount;
    source.complete = stage_ == Stage::Captured;
    return source;
}

void RecordingModel::SetEngine(std::shared_ptr<media::IEngine> engine) {
    Release();
    capture_.reset();
    engine_ = std::move(engine);
    if (engine_) capture_ = std::make_unique<media::CaptureRun>(engine_);
}

void RecordingModel::BeginLoading(const QString& path) {
    Release();
    path_ = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
    stage_ = Stage::Loading;
    emit loading(path_);
}

void RecordingModel::StartCapture(const media::LoadedMedia& loaded,
                                  media::CGrabberCallback* block) {
    if (block == nullptr) {
        FailLoading({});
        return;
    }
    if (block_ != block) {
        block->AddRef();
        if (block_) block_->Release();
        block_ = block;
    }
    format_ = {loaded.channels,   loaded.bitsPerSample, loaded.sampleRate,
               loaded.frameCount, loaded.startFrame,    loaded.endFrame};
    infoText_ = loaded.infoText;
    shownInfoText_ = QString::fromStdString(loaded.shownInfoText);
    stage_ = Stage::Capturing;
    end_ = media::CaptureEnd::Running;
    emit opened();
    if (stage_ != Stage::Capturing || block_ != block) return;  // a slot released it

    const media::WaveFormat wave{format_.channels, format_.bitsPerSample, format_.sampleRate};
    const media::HRESULT hr =
        capture_
            ? capture_->Start(path_.toStdString(), wave, block_,
                              [this] {
                                  QMetaObject::invokeMethod(
                                      this, [this] { OnCaptureNotify(); }, Qt::QueuedConnection);
                              })
            : media::E_POINTER;
    if (media::Failed(hr)) {
        EndCapture(media::CaptureEnd::Failed);
        return;
    }
    progressTimer_.start();
    emit progress(framesCaptured());
}

void RecordingModel::OnCaptureNotify() {
    if (stage_ != Stage::Capturing || !capture_) return;
    media::CaptureEnd end = media::CaptureEnd::Running;
    if (!capture_->TakeEnd(&end)) return;
    EndCapture(end);
}

void RecordingModel::EndCapture(media::CaptureEnd end) {
    progressTimer_.stop();
    if (block_) block_->m_bCapture.store(0, std::memory_order_release);
    if (capture_) capture_->Stop();
    stage_ = Stage::Captured;
    end_ = end;
    emit captureEnded(end);
}

void RecordingModel::FailLoading(const QString& reason) {
    Release();
    emit failed(reason);
}

void RecordingModel::Release() {
    if (stage_ == Stage::Empty) return;
    // The views let go of the bytes before the capture stops and they go.
    if (hasRecording()) emit releasing();
    progressTimer_.stop();
    if (capture_) capture_->Stop();
    if (block_) {
        block_->Release();
        block_ = nullptr;
    }
    stage_ = Stage::Empty;
    end_ = media::CaptureEnd::Stopped;
    path_.clear();
    infoText_.clear();
    shownInfoText_.clear();
    format_ = {};
    emit released();
}

}  // namespace vurma::app
