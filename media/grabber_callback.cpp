#include "grabber_callback.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace vurma::media {

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
}  // namespace

CGrabberCallback::CGrabberCallback() {
    m_pData = static_cast<std::uint8_t*>(std::calloc(kInitialBufSize, 1));
    m_nBufSize = m_pData != nullptr ? kInitialBufSize : 0;
}

CGrabberCallback::~CGrabberCallback() { FreeBuffer(); }

void CGrabberCallback::FreeBuffer() {
    if (m_nMappedSize != 0) {
        ::munmap(m_pData, m_nMappedSize);
    } else {
        std::free(m_pData);
    }
    m_pData = nullptr;
    m_nMappedSize = 0;
}

HRESULT CGrabberCallback::QueryInterface(InterfaceId iid, void** out) {
    if (out == nullptr) return E_POINTER;
    if (iid == InterfaceId::SampleGrabberCB || iid == InterfaceId::Unknown) {
        *out = static_cast<ISampleGrabberCB*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

unsigned long CGrabberCallback::AddRef() {
    const long count = m_cRef.fetch_add(1, std::memory_order_relaxed) + 1;
    return count < 1 ? 1 : static_cast<unsigned long>(count);
}

unsigned long CGrabberCallback::Release() {
    const long count = m_cRef.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (count == 0) {
        // Guard against a release from inside the destructor deleting twice.
        m_cRef.store(1, std::memory_order_relaxed);
        delete this;
        return 0;
    }
    return count < 1 ? 1 : static_cast<unsigned long>(count);
}

HRESULT CGrabberCallback::SampleCB(double sampleTime, IMediaSample* sample) {
    if (sample == nullptr) return S_OK;
    std::uint8_t* data = nullptr;
    if (Failed(sample->GetPointer(&data)) || data == nullptr) return S_OK;
    const long length = sample->GetActualDataLength();
    if (length <= 0) return S_OK;
    if (m_bCapture.load(std::memory_order_acquire) == 0) return S_OK;
    if (sample->IsPreroll() == S_OK) return S_OK;
    // The first buffer of a capture starts the file: it is taken whatever its
    // time stamp and discontinuity flag, so captured frame f is decoded frame f.
    if (m_bFirstTaken) {
        if (sample->IsDiscontinuity() == S_OK) return S_OK;
        if (!(sampleTime > m_dLastTime)) return S_OK;
    }
    m_bFirstTaken = true;
    m_dLastTime = sampleTime;
    const std::uint32_t len = m_nDataLen.load(std::memory_order_relaxed);
    if (len >= m_nBufSize) return S_OK;
    std::uint32_t room = m_nBufSize - len;
    const std::uint32_t count =
        static_cast<unsigned long>(length) < room ? static_cast<std::uint32_t>(length) : room;
    std::memcpy(m_pData + len, data, count);
    m_nDataLen.store(len + count, std::memory_order_release);
    return S_OK;
}

HRESULT CGrabberCallback::BufferCB(double, std::uint8_t*, long) { return E_NOTIMPL; }

bool CGrabberCallback::SetCaptureBuffer(std::uint64_t bytes) {
    FreeBuffer();
    m_nBufSize = 0;
    m_nDataLen.store(0, std::memory_order_release);
    if (bytes == 0 || bytes > UINT32_MAX) return bytes == 0;
    const auto size = static_cast<std::size_t>(bytes);
    if (size >= 2 * kHugePage) {
        // A large block is mapped (zero-filled by the system) and backed by
        // huge pages where allowed, so that the streaming thread does not
        // take a page fault every 4 KB while it captures.
        const std::size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
        void* block =
            ::mmap(nullptr, rounded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block == MAP_FAILED) return false;
        ::madvise(block, rounded, MADV_HUGEPAGE);
        m_pData = static_cast<std::uint8_t*>(block);
        m_nMappedSize = rounded;
    } else {
        m_pData = static_cast<std::uint8_t*>(std::calloc(size, 1));
        if (m_pData == nullptr) return false;
    }
    m_nBufSize = static_cast<std::uint32_t>(bytes);
    return true;
}

}  // namespace vurma::media
