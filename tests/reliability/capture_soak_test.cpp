// The capture protocol soaked without a toolkit, so that ThreadSanitizer
// sees it: fifty captures in a row, each written by a streaming thread in
// buffers of random sizes while the main thread converts and analyses live
// frames from what is published, stops the capture at a random moment and,
// once the writer is gone, converts and analyses the whole block.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "analysis/analysis_pass.h"
#include "analysis/sample_store.h"
#include "media/grabber_callback.h"

namespace vurma::reliability {
namespace {

class Buffer final : public media::IMediaSample {
  public:
    explicit Buffer(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    media::HRESULT GetPointer(std::uint8_t** data) override {
        *data = bytes_.data();
        return media::S_OK;
    }
    long GetActualDataLength() override { return static_cast<long>(bytes_.size()); }
    media::HRESULT IsPreroll() override { return media::S_FALSE; }
    media::HRESULT IsDiscontinuity() override { return media::S_FALSE; }

  private:
    std::vector<std::uint8_t> bytes_;
};

TEST(CaptureSoak, FiftyCapturesWithLiveFramesAndAStopAtAnyMoment) {
    std::mt19937 rng(5150);
    auto spectrum = std::make_unique<SpectrumArrays>();
    AnalysisResult result;
    for (int file = 0; file < 50; ++file) {
        const int channels = 1 + static_cast<int>(rng() % 2);
        const int rate = 44100;
        const std::uint32_t frames = 20000 + rng() % 40000;
        const std::uint32_t bytes = frames * channels * 2;
        auto* cb = new media::CGrabberCallback();
        cb->AddRef();
        ASSERT_TRUE(cb->SetCaptureBuffer(bytes));
        cb->m_bCapture.store(1, std::memory_order_release);
        std::vector<double> samples(frames), windowed(frames);

        // The streaming thread: a ramp, so every published byte can be checked.
        const unsigned writerSeed = static_cast<unsigned>(rng());
        std::atomic<bool> writerDone{false};
        std::thread writer([cb, bytes, writerSeed, &writerDone] {
            std::mt19937 wrng(writerSeed);
            std::uint32_t offset = 0;
            double time = 0.0;
            while (offset < bytes) {
                std::vector<std::uint8_t> chunk(256 + wrng() % 8192);
                for (std::size_t i = 0; i < chunk.size(); ++i)
                    chunk[i] = static_cast<std::uint8_t>((offset + i) * 13);
                Buffer sample(std::move(chunk));
                time += 0.01;
                cb->SampleCB(time, &sample);
                offset += static_cast<std::uint32_t>(sample.GetActualDataLength());
            }
            writerDone.store(true, std::memory_order_release);
        });

        // The window's thread: live frames from what is published so far.
        const std::uint32_t stopAt = rng() % (bytes + bytes / 4);
        AnalysisSettings settings{0, 3, 2};
        bool torn = false;  // a published byte that was not yet written
        while (!writerDone.load(std::memory_order_acquire)) {
            const PcmView pcm{cb->m_pData, cb->m_nDataLen.load(std::memory_order_acquire), channels,
                              16};
            for (std::uint32_t i = 0; i < pcm.dataLen; i += 997) {
                if (pcm.data[i] != static_cast<std::uint8_t>(i * 13)) torn = true;
            }
            const std::uint32_t complete = CompleteFrames(pcm);
            if (complete >= 512) {
                ConvertSamples(pcm, complete - 512, 512, samples.data(), windowed.data(), 0);
                Analyze(samples.data(), windowed.data(), 512, 0, rate, settings, *spectrum,
                        &result);
            }
            if (pcm.dataLen >= stopAt) cb->m_bCapture.store(0, std::memory_order_release);
            std::this_thread::yield();
        }
        writer.join();
        EXPECT_FALSE(torn) << "file " << file;

        // The end of the capture: everything published, converted once.
        cb->m_bCapture.store(0, std::memory_order_release);
        const PcmView pcm{cb->m_pData, cb->m_nDataLen.load(std::memory_order_acquire), channels,
                          16};
        ASSERT_LE(pcm.dataLen, bytes);
        for (std::uint32_t i = 0; i < pcm.dataLen; ++i) {
            ASSERT_EQ(pcm.data[i], static_cast<std::uint8_t>(i * 13)) << "file " << file;
        }
        const std::uint32_t n = CompleteFrames(pcm);
        ASSERT_TRUE(ConvertSamples(pcm, 0, n, samples.data(), windowed.data(), 0));
        settings.fftIndex = 3;
        for (int start = 0; start + 4096 <= static_cast<int>(n); start += 4096 * 3) {
            ASSERT_TRUE(Analyze(samples.data(), windowed.data(), static_cast<int>(n), start, rate,
                                settings, *spectrum, &result));
        }
        EXPECT_EQ(cb->Release(), 0u);
    }
}

}  // namespace
}  // namespace vurma::reliability
