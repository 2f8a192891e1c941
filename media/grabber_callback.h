// The grabber callback object and its CaptureBlock: every decoded audio
// buffer that passes the grabber is appended here while the capture runs.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "hresult.h"

namespace vurma::media {

enum class InterfaceId { Unknown, SampleGrabberCB, Other };

// A decoded buffer as the grabber hands it over.
class IMediaSample {
  public:
    virtual ~IMediaSample() = default;
    virtual HRESULT GetPointer(std::uint8_t** data) = 0;
    virtual long GetActualDataLength() = 0;
    virtual HRESULT IsPreroll() = 0;        // S_OK when preroll
    virtual HRESULT IsDiscontinuity() = 0;  // S_OK when a discontinuity
};

// Reference-counted callback interface the grabber calls.
class ISampleGrabberCB {
  public:
    virtual HRESULT QueryInterface(InterfaceId iid, void** out) = 0;
    virtual unsigned long AddRef() = 0;
    virtual unsigned long Release() = 0;
    // Called on the streaming thread, once per decoded buffer while the graph runs.
    virtual HRESULT SampleCB(double sampleTime, IMediaSample* sample) = 0;
    virtual HRESULT BufferCB(double sampleTime, std::uint8_t* buffer, long length) = 0;

  protected:
    virtual ~ISampleGrabberCB() = default;
};

// Thread protocol: SampleCB (streaming thread) is the only writer of the
// bytes, m_nDataLen and m_dLastTime; it publishes m_nDataLen with release
// order after copying. The GUI thread reads m_nDataLen with acquire order and
// only the bytes below it, and only ever clears m_bCapture. m_pData is
// replaced (SetCaptureBuffer) or freed only while the graph is stopped.
class CGrabberCallback final : public ISampleGrabberCB {
  public:
    static constexpr std::uint32_t kInitialBufSize = 65535;

    CGrabberCallback();
    CGrabberCallback(const CGrabberCallback&) = delete;
    CGrabberCallback& operator=(const CGrabberCallback&) = delete;

    HRESULT QueryInterface(InterfaceId iid, void** out) override;
    unsigned long AddRef() override;
    unsigned long Release() override;
    HRESULT SampleCB(double sampleTime, IMediaSample* sample) override;
    HRESULT BufferCB(double sampleTime, std::uint8_t* buffer, long length) override;

    // Replaces the buffer with a zero-filled block of `bytes` bytes (GUI
    // thread, graph stopped). Returns false and leaves m_nBufSize 0 when the
    // block cannot be allocated.
    bool SetCaptureBuffer(std::uint64_t bytes);

    // CaptureBlock
    std::atomic<std::uint32_t> m_nDataLen{0};
    std::uint8_t* m_pData = nullptr;
    std::atomic<int> m_bCapture{0};
    double m_dLastTime = 0.0;
    std::uint32_t m_nBufSize = 0;

  private:
    ~CGrabberCallback() override;
    std::atomic<long> m_cRef{0};
    bool m_bFirstTaken = false;     // the first buffer of a capture is taken whatever its time
    std::size_t m_nMappedSize = 0;  // m_pData is a mapping of this size; 0: from the heap
    void FreeBuffer();
};

// One reference to a callback object: whoever holds it keeps the
// CaptureBlock alive, whatever happens to the graph it was made for.
class CallbackRef {
  public:
    CallbackRef() = default;
    CallbackRef(std::nullptr_t) {}
    // Takes a reference of its own.
    explicit CallbackRef(CGrabberCallback* cb) : cb_(cb) {
        if (cb_ != nullptr) cb_->AddRef();
    }
    CallbackRef(const CallbackRef& other) : CallbackRef(other.cb_) {}
    CallbackRef(CallbackRef&& other) noexcept : cb_(std::exchange(other.cb_, nullptr)) {}
    CallbackRef& operator=(CallbackRef other) noexcept {
        std::swap(cb_, other.cb_);
        return *this;
    }
    ~CallbackRef() {
        if (cb_ != nullptr) cb_->Release();
    }
    CGrabberCallback* get() const { return cb_; }
    CGrabberCallback* operator->() const { return cb_; }
    operator CGrabberCallback*() const { return cb_; }

  private:
    CGrabberCallback* cb_ = nullptr;
};

}  // namespace vurma::media
