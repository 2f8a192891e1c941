#include "media/grabber_callback.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace vurma::media {
namespace {

class Sample final : public IMediaSample {
  public:
    explicit Sample(std::vector<std::uint8_t> bytes, bool preroll = false, bool disc = false)
        : bytes_(std::move(bytes)), preroll_(preroll), disc_(disc) {}
    HRESULT GetPointer(std::uint8_t** data) override {
        *data = bytes_.data();
        return S_OK;
    }
    long GetActualDataLength() override { return static_cast<long>(bytes_.size()); }
    HRESULT IsPreroll() override { return preroll_ ? S_OK : S_FALSE; }
    HRESULT IsDiscontinuity() override { return disc_ ? S_OK : S_FALSE; }

  private:
    std::vector<std::uint8_t> bytes_;
    bool preroll_, disc_;
};

// Owns one reference for the test's lifetime.
struct Callback {
    Callback() : cb(new CGrabberCallback()) {
        cb->AddRef();
        cb->m_bCapture = 1;
    }
    ~Callback() { cb->Release(); }
    CGrabberCallback* operator->() const { return cb; }
    HRESULT Feed(double t, std::vector<std::uint8_t> bytes, bool preroll = false,
                 bool disc = false) {
        Sample s(std::move(bytes), preroll, disc);
        return cb->SampleCB(t, &s);
    }
    CGrabberCallback* cb;
};

TEST(GrabberCallback, StartsWithTheInitialBlockAndCountsReferences) {
    auto* cb = new CGrabberCallback();
    EXPECT_EQ(cb->m_nBufSize, 65535u);
    EXPECT_EQ(cb->m_nDataLen.load(), 0u);
    EXPECT_EQ(cb->m_bCapture.load(), 0);
    EXPECT_EQ(cb->AddRef(), 1u);
    EXPECT_EQ(cb->AddRef(), 2u);
    EXPECT_EQ(cb->Release(), 1u);
    EXPECT_EQ(cb->Release(), 0u);  // frees the object and its block (ASan checks the leak)
}

TEST(GrabberCallback, QueryInterface) {
    Callback c;
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(c->QueryInterface(InterfaceId::SampleGrabberCB, &out), S_OK);
    EXPECT_EQ(out, static_cast<ISampleGrabberCB*>(c.cb));
    EXPECT_EQ(c->QueryInterface(InterfaceId::Unknown, &out), S_OK);
    EXPECT_EQ(c->QueryInterface(InterfaceId::Other, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(c->QueryInterface(InterfaceId::Other, nullptr), E_POINTER);
    EXPECT_EQ(c->Release(), 2u);  // the two successful queries added references
    EXPECT_EQ(c->Release(), 1u);
    EXPECT_EQ(c->BufferCB(0.0, nullptr, 0), E_NOTIMPL);
}

TEST(GrabberCallback, FirstSampleIsTakenWhateverItsTimeAndFlag) {
    Callback c;
    ASSERT_TRUE(c->SetCaptureBuffer(16));
    EXPECT_EQ(c.Feed(0.0, {1, 2}, false, true), S_OK);  // time 0, discontinuity
    EXPECT_EQ(c->m_nDataLen.load(), 2u);
    c.Feed(0.0, {3});  // same time: dropped
    c.Feed(0.3, {6, 7});
    c.Feed(0.5, {4}, false, true);  // discontinuity after the first: dropped
    c.Feed(0.2, {5});               // earlier than the last: dropped
    EXPECT_EQ(c->m_nDataLen.load(), 4u);
    EXPECT_EQ(0, std::memcmp(c->m_pData, "\x01\x02\x06\x07", 4));
    EXPECT_DOUBLE_EQ(c->m_dLastTime, 0.3);
}

TEST(GrabberCallback, PrerollAndStoppedCaptureTakeNothing) {
    Callback c;
    c.Feed(0.1, {1}, true);  // preroll, even first
    EXPECT_EQ(c->m_nDataLen.load(), 0u);
    c->m_bCapture = 0;
    c.Feed(0.2, {1});
    EXPECT_EQ(c->m_nDataLen.load(), 0u);
    EXPECT_DOUBLE_EQ(c->m_dLastTime, 0.0);
}

TEST(GrabberCallback, FullBufferCutsAtTheEndAndDropsTheRest) {
    Callback c;
    ASSERT_TRUE(c->SetCaptureBuffer(5));
    c.Feed(0.1, {1, 2, 3});
    c.Feed(0.2, {4, 5, 6, 7});  // only two bytes fit
    EXPECT_EQ(c->m_nDataLen.load(), 5u);
    EXPECT_EQ(0, std::memcmp(c->m_pData, "\x01\x02\x03\x04\x05", 5));
    c.Feed(0.3, {9});
    EXPECT_EQ(c->m_nDataLen.load(), 5u);
    EXPECT_DOUBLE_EQ(c->m_dLastTime, 0.3);  // a dropped full-buffer sample still advances the time
}

TEST(GrabberCallback, UnallocatableBlockLeavesNothingToCaptureInto) {
    Callback c;
    EXPECT_FALSE(c->SetCaptureBuffer(std::uint64_t{1} << 33));
    EXPECT_EQ(c->m_nBufSize, 0u);
    EXPECT_EQ(c->m_pData, nullptr);
    c.Feed(0.1, {1, 2});
    EXPECT_EQ(c->m_nDataLen.load(), 0u);
}

// A writer appends on its own thread while the reader reads only below the
// published length; every byte it sees must be final.
TEST(GrabberCallback, ReaderSeesOnlyCompleteBytesWhileWriterAppends) {
    Callback c;
    constexpr std::uint32_t kChunk = 256;
    constexpr int kChunks = 400;
    ASSERT_TRUE(c->SetCaptureBuffer(kChunk * kChunks));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < kChunks; ++i) {
            std::vector<std::uint8_t> bytes(kChunk);
            for (std::uint32_t k = 0; k < kChunk; ++k) bytes[k] = static_cast<std::uint8_t>(i + k);
            c.Feed(0.01 * (i + 1), bytes);
        }
        done = true;
    });
    std::uint64_t checked = 0;
    bool ok = true;
    while (!done.load() || checked < c->m_nDataLen.load(std::memory_order_acquire)) {
        const std::uint32_t len = c->m_nDataLen.load(std::memory_order_acquire);
        for (std::uint32_t pos = 0; pos < len; pos += 97) {
            const std::uint32_t chunk = pos / kChunk, k = pos % kChunk;
            ok = ok && c->m_pData[pos] == static_cast<std::uint8_t>(chunk + k);
        }
        checked = len;
    }
    writer.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(c->m_nDataLen.load(), kChunk * kChunks);
}

}  // namespace
}  // namespace vurma::media
