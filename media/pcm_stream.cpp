#include "pcm_stream.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <utility>
#include <vector>

#include "analysis/report_error.h"
#include "analysis/ui_text.h"
#include "grabber_callback.h"

namespace vurma::media {

namespace {
constexpr char kMsgCannotProcess[] = UI_TEXT("このﾌｧｲﾙは処理できません。  ");
}  // namespace

// The grabber callback of a streamed decode: takes the buffers the capture
// would take (the first whatever its time, then only later, continuous
// ones, never preroll) and passes them on in whole frames; a frame split
// across two buffers is put together first.
class PcmStream::Sink final : public ISampleGrabberCB {
  public:
    Sink(PcmStream* owner, const WaveFormat& format, const PcmConsumer* consumer)
        : owner_(owner),
          consumer_(consumer),
          frameBytes_(static_cast<std::size_t>(format.channels) *
                      static_cast<std::size_t>(std::max(format.bitsPerSample / 8, 1))) {
        carry_.reserve(frameBytes_);
    }

    HRESULT QueryInterface(InterfaceId iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (iid == InterfaceId::SampleGrabberCB || iid == InterfaceId::Unknown) {
            *out = static_cast<ISampleGrabberCB*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    unsigned long AddRef() override {
        return static_cast<unsigned long>(refs_.fetch_add(1, std::memory_order_relaxed) + 1);
    }
    unsigned long Release() override {
        const long left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return static_cast<unsigned long>(left);
    }

    // Streaming thread.
    HRESULT SampleCB(double sampleTime, IMediaSample* sample) override {
        if (sample == nullptr || done_) return S_OK;
        std::uint8_t* data = nullptr;
        if (Failed(sample->GetPointer(&data)) || data == nullptr) return S_OK;
        const long length = sample->GetActualDataLength();
        if (length <= 0 || sample->IsPreroll() == S_OK) return S_OK;
        if (firstTaken_) {
            if (sample->IsDiscontinuity() == S_OK) return S_OK;
            if (!(sampleTime > lastTime_)) return S_OK;
        }
        firstTaken_ = true;
        lastTime_ = sampleTime;

        std::size_t left = static_cast<std::size_t>(length);
        if (!carry_.empty()) {
            const std::size_t take = std::min(left, frameBytes_ - carry_.size());
            carry_.insert(carry_.end(), data, data + take);
            data += take;
            left -= take;
            if (carry_.size() < frameBytes_) return S_OK;
            if (!Deliver(carry_.data(), 1)) return S_OK;
            carry_.clear();
        }
        const std::size_t frames = left / frameBytes_;
        if (frames > 0 && !Deliver(data, frames)) return S_OK;
        carry_.assign(data + frames * frameBytes_, data + left);
        return S_OK;
    }
    HRESULT BufferCB(double, std::uint8_t*, long) override { return E_NOTIMPL; }

  private:
    ~Sink() override = default;

    bool Deliver(const std::uint8_t* data, std::size_t frames) {
        const PcmChunk chunk{data, frames, next_};
        if (!(*consumer_)(chunk)) {
            done_ = true;
            owner_->End(PcmEnd::Cancelled);
            return false;
        }
        next_ += frames;
        owner_->delivered_.store(next_, std::memory_order_release);
        return true;
    }

    PcmStream* owner_;
    const PcmConsumer* consumer_;
    const std::size_t frameBytes_;
    std::atomic<long> refs_{0};
    // Streaming thread only.
    std::uint64_t next_ = 0;  // index of the next frame delivered
    std::vector<std::uint8_t> carry_;
    bool firstTaken_ = false;
    bool done_ = false;
    double lastTime_ = 0.0;
};

PcmStream::PcmStream(std::shared_ptr<IEngine> engine) : engine_(std::move(engine)) {}

PcmStream::~PcmStream() { Stop(); }

HRESULT PcmStream::Open(const std::string& utf8Path, LoadedMedia* loaded) {
    Stop();
    format_ = {};
    path_ = utf8Path;
    if (engine_ == nullptr || loaded == nullptr) return E_POINTER;
    session_ = std::make_unique<MediaSession>(engine_);
    HRESULT hr = session_->CreateGraph();  // a failure is reported by the session
    if (Failed(hr)) return hr;
    session_->SetUnsynchronised(true);
    session_->SetCaptureInGraph(false);
    hr = session_->LoadMediaFile(utf8Path, loaded);
    if (Failed(hr)) return hr;
    // The played graph feeds a callback of its own; the load's block is
    // never filled here, so it is given back whatever its size.
    if (CGrabberCallback* block = session_->callback()) block->SetCaptureBuffer(0);
    if (loaded->channels <= 0 || loaded->sampleRate <= 0 || loaded->bitsPerSample < 8) {
        ReportError(kMsgCannotProcess);
        return E_FAIL;
    }
    format_ = {loaded->channels, loaded->bitsPerSample, loaded->sampleRate};
    return S_OK;
}

HRESULT PcmStream::Start(PcmConsumer consumer, std::chrono::milliseconds stallLimit) {
    Stop();
    if (format_.channels <= 0 || !consumer) return E_FAIL;
    consumer_ = std::move(consumer);
    stallLimit_ = stallLimit;
    delivered_.store(0, std::memory_order_release);
    {
        std::lock_guard lock(mutex_);
        end_ = PcmEnd::Running;
    }
    const HRESULT hr = StartDecode();
    if (Failed(hr)) {
        std::lock_guard lock(mutex_);
        end_ = PcmEnd::Stopped;
    }
    return hr;
}

HRESULT PcmStream::StartDecode() {
    std::shared_ptr<IAudioDecode> decode;
    HRESULT hr = engine_->CreateAudioDecode(&decode);
    if (Failed(hr) || decode == nullptr) return Failed(hr) ? hr : E_POINTER;
    sink_ = new Sink(this, format_, &consumer_);
    sink_->AddRef();
    decode_ = decode;
    hr = decode->Start(path_, format_, sink_, [this](HRESULT result) {
        End(Succeeded(result) ? PcmEnd::Complete : PcmEnd::Failed);
    });
    if (Failed(hr)) StopDecode();
    return hr;
}

void PcmStream::StopDecode() {
    // Not under the lock: the decode's last call may be waiting for it.
    if (decode_ != nullptr) decode_->Stop();
    decode_.reset();
    if (sink_ != nullptr) sink_->Release();
    sink_ = nullptr;
}

void PcmStream::End(PcmEnd end) {
    {
        std::lock_guard lock(mutex_);
        if (end_ != PcmEnd::Running) return;
        end_ = end;
    }
    cv_.notify_all();
}

PcmEnd PcmStream::Wait() {
    const auto step =
        std::clamp(stallLimit_ / 8, std::chrono::milliseconds(1), std::chrono::milliseconds(250));
    bool retried = false;
    std::uint64_t lastProgress = 0, lastFrames = 0;
    auto lastChange = std::chrono::steady_clock::now();
    std::unique_lock lock(mutex_);
    while (end_ == PcmEnd::Running) {
        cv_.wait_for(lock, step);
        if (end_ != PcmEnd::Running) break;
        // Not under the lock: Progress may take the decode's lock, under
        // which the decode delivers its end (which takes ours).
        lock.unlock();
        const std::uint64_t progress = decode_->Progress();
        const std::uint64_t frames = delivered_.load(std::memory_order_acquire);
        const auto now = std::chrono::steady_clock::now();
        bool stalled = false;
        if (progress != lastProgress || frames != lastFrames) {
            lastProgress = progress;
            lastFrames = frames;
            lastChange = now;
        } else if (now - lastChange >= stallLimit_) {
            stalled = true;
        }
        if (stalled && frames == 0 && !retried) {
            // Nothing reached the consumer: a fresh decode is invisible to it.
            retried = true;
            StopDecode();
            lastProgress = 0;
            lastChange = std::chrono::steady_clock::now();
            const bool started = Succeeded(StartDecode());
            lock.lock();
            if (!started && end_ == PcmEnd::Running) end_ = PcmEnd::Failed;
            continue;
        }
        lock.lock();
        if (stalled && end_ == PcmEnd::Running) end_ = PcmEnd::Stalled;
    }
    const PcmEnd end = end_;
    lock.unlock();
    StopDecode();
    return end;
}

void PcmStream::Stop() {
    End(PcmEnd::Stopped);
    StopDecode();
}

std::uint64_t PcmStream::framesDelivered() const {
    return delivered_.load(std::memory_order_acquire);
}

PcmEnd StreamWholeFile(const std::shared_ptr<IEngine>& engine, const std::string& utf8Path,
                       LoadedMedia* loaded, const std::function<bool(const LoadedMedia&)>& begin,
                       PcmConsumer consumer, std::chrono::milliseconds stallLimit) {
    LoadedMedia local;
    if (loaded == nullptr) loaded = &local;
    PcmStream stream(engine);
    if (Failed(stream.Open(utf8Path, loaded))) return PcmEnd::Refused;
    if (begin && !begin(*loaded)) return PcmEnd::Cancelled;
    if (Failed(stream.Start(std::move(consumer), stallLimit))) return PcmEnd::Failed;
    return stream.Wait();
}

}  // namespace vurma::media
