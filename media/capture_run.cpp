#include "capture_run.h"

#include <algorithm>
#include <utility>

#include "grabber_callback.h"

namespace vurma::media {

CaptureRun::CaptureRun(std::shared_ptr<IEngine> engine) : engine_(std::move(engine)) {}

CaptureRun::~CaptureRun() { Stop(); }

HRESULT CaptureRun::Start(const std::string& path, const WaveFormat& format,
                          CGrabberCallback* block, std::function<void()> notify,
                          std::chrono::milliseconds stallLimit) {
    Stop();
    if (engine_ == nullptr || block == nullptr) return E_POINTER;
    std::shared_ptr<IAudioDecode> decode;
    HRESULT hr = engine_->CreateAudioDecode(&decode);
    if (Failed(hr) || decode == nullptr) return Failed(hr) ? hr : E_POINTER;
    {
        std::lock_guard lock(mutex_);
        end_ = CaptureEnd::Running;
        taken_ = false;
        notify_ = std::move(notify);
    }
    block->AddRef();
    block_ = block;
    format_ = format;
    decode_ = decode;
    hr = decode->Start(path, format, block, [this](HRESULT result) {
        End(Succeeded(result) ? CaptureEnd::Complete : CaptureEnd::Failed);
    });
    if (Failed(hr)) {
        {
            std::lock_guard lock(mutex_);
            end_ = CaptureEnd::Stopped;
            taken_ = true;
            notify_ = nullptr;
        }
        Stop();
        return hr;
    }
    watchdog_ = std::thread([this, stallLimit] { Watch(stallLimit); });
    return hr;
}

void CaptureRun::Stop() {
    {
        std::lock_guard lock(mutex_);
        if (end_ == CaptureEnd::Running) end_ = CaptureEnd::Stopped;
        taken_ = true;  // a stopped run reports nothing more
        notify_ = nullptr;
    }
    cv_.notify_all();
    if (watchdog_.joinable()) watchdog_.join();
    // Not under the lock: the decode's last call may be waiting for it.
    if (decode_ != nullptr) decode_->Stop();
    decode_.reset();
    if (block_ != nullptr) block_->Release();
    block_ = nullptr;
}

void CaptureRun::End(CaptureEnd end) {
    {
        std::lock_guard lock(mutex_);
        if (end_ != CaptureEnd::Running) return;
        end_ = end;
        // Under the lock (it only posts), so that whoever sees the end also
        // finds the notification on its way.
        if (notify_) notify_();
    }
    cv_.notify_all();
}

void CaptureRun::Watch(std::chrono::milliseconds stallLimit) {
    const auto step =
        std::clamp(stallLimit / 8, std::chrono::milliseconds(1), std::chrono::milliseconds(250));
    std::uint32_t lastLen = 0;
    std::uint64_t lastProgress = 0;
    auto lastChange = std::chrono::steady_clock::now();
    std::unique_lock lock(mutex_);
    while (end_ == CaptureEnd::Running) {
        cv_.wait_for(lock, step);
        if (end_ != CaptureEnd::Running) break;
        // Not under the lock: the decode delivers its end (which takes it)
        // under its own lock, and Progress may take that one.
        lock.unlock();
        const std::uint32_t len = block_->m_nDataLen.load(std::memory_order_acquire);
        const std::uint64_t progress = decode_->Progress();
        lock.lock();
        if (end_ != CaptureEnd::Running) break;
        const auto now = std::chrono::steady_clock::now();
        if (len != lastLen || progress != lastProgress) {
            lastLen = len;
            lastProgress = progress;
            lastChange = now;
        } else if (now - lastChange >= stallLimit) {
            lock.unlock();
            End(CaptureEnd::Stalled);
            return;
        }
    }
}

std::uint32_t CaptureRun::FramesCaptured() const {
    if (block_ == nullptr || format_.channels <= 0 || format_.bitsPerSample < 8) return 0;
    const std::uint32_t len = block_->m_nDataLen.load(std::memory_order_acquire);
    return len / static_cast<std::uint32_t>(format_.bitsPerSample / 8) /
           static_cast<std::uint32_t>(format_.channels);
}

bool CaptureRun::TakeEnd(CaptureEnd* end) {
    std::lock_guard lock(mutex_);
    if (end_ == CaptureEnd::Running || taken_) return false;
    taken_ = true;
    if (end != nullptr) *end = end_;
    return true;
}

CaptureEnd CaptureRun::Wait() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return end_ != CaptureEnd::Running; });
    return end_;
}

}  // namespace vurma::media
