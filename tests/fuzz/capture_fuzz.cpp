// libFuzzer harness for the capture path. The input drives a sequence of
// decoded buffers (sizes, time stamps, preroll and discontinuity flags) and
// capture-flag changes into a grabber callback sized as a file load sizes it,
// with live-frame conversions in between; then the end of the capture:
// conversion of everything captured, the FFT-size decision and analysis
// passes at arbitrary starts, sizes, windows and gains.
//
// Besides the sanitizers' checks it holds the capture to a model of what
// must be kept, so lost, reordered or stray bytes are reported too.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "analysis/analysis_pass.h"
#include "analysis/sample_store.h"
#include "analysis/settings.h"
#include "media/grabber_callback.h"

namespace {

using vurma::media::CGrabberCallback;
using vurma::media::HRESULT;

#define FUZZ_CHECK(cond)                                                                          \
    do {                                                                                          \
        if (!(cond)) {                                                                            \
            std::fprintf(stderr, "capture_fuzz: check failed at line %d: %s\n", __LINE__, #cond); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (0)

// A decoded buffer as an engine hands it over; the pointer may be missing.
class FuzzSample final : public vurma::media::IMediaSample {
  public:
    FuzzSample(std::uint8_t* data, long length, bool preroll, bool discontinuity)
        : data_(data), length_(length), preroll_(preroll), discontinuity_(discontinuity) {}
    HRESULT GetPointer(std::uint8_t** data) override {
        if (data == nullptr) return vurma::media::E_POINTER;
        *data = data_;
        return data_ != nullptr ? vurma::media::S_OK : vurma::media::E_FAIL;
    }
    long GetActualDataLength() override { return length_; }
    HRESULT IsPreroll() override { return preroll_ ? vurma::media::S_OK : vurma::media::S_FALSE; }
    HRESULT IsDiscontinuity() override {
        return discontinuity_ ? vurma::media::S_OK : vurma::media::S_FALSE;
    }

  private:
    std::uint8_t* data_;
    long length_;
    bool preroll_;
    bool discontinuity_;
};

// What the capture must hold after the same buffers.
struct CaptureModel {
    std::vector<std::uint8_t> bytes;
    std::uint32_t capacity = 0;
    bool capturing = true;
    bool firstTaken = false;
    double lastTime = 0.0;

    void Offer(const std::uint8_t* data, long length, double time, bool preroll,
               bool discontinuity) {
        if (data == nullptr || length <= 0 || !capturing || preroll) return;
        if (firstTaken && (discontinuity || !(time > lastTime))) return;
        firstTaken = true;
        lastTime = time;
        const std::size_t room = capacity - bytes.size();
        const std::size_t take = std::min<std::size_t>(room, static_cast<std::size_t>(length));
        bytes.insert(bytes.end(), data, data + take);
    }
};

double PickTime(FuzzedDataProvider& in, double last) {
    switch (in.ConsumeIntegralInRange(0, 7)) {
        case 0:
            return last;  // the same stamp again
        case 1:
            return last - in.ConsumeFloatingPointInRange(0.0, 10.0);  // back, as after a seek
        case 2:
            return std::numeric_limits<double>::quiet_NaN();
        case 3:
            return in.ConsumeBool() ? std::numeric_limits<double>::infinity()
                                    : -std::numeric_limits<double>::infinity();
        case 4:
            return in.ConsumeFloatingPoint<double>();
        default:
            return last + in.ConsumeFloatingPointInRange(0.0, 0.05);  // ordinary progress
    }
}

void CheckSamples(const std::vector<double>& samples, std::uint32_t n, int bits) {
    // The normalised range: 8-bit -1 .. 128/127, 16-bit -32768/32767 .. 1.
    const double low = bits == 8 ? -1.0 : -32768.0 / 32767.0;
    const double high = bits == 8 ? 128.0 / 127.0 : 1.0;
    for (std::uint32_t i = 0; i < n; ++i) {
        FUZZ_CHECK(std::isfinite(samples[i]));
        FUZZ_CHECK(samples[i] >= low - 1e-12 && samples[i] <= high + 1e-12);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);

    // The decoded format and a claimed length, sized as a file load sizes
    // them: F frames for the sample arrays, B bytes for the capture, with
    // one millisecond beyond the length; at most 128 KB, so runs stay quick.
    const int channels = in.ConsumeIntegralInRange(1, 8);
    const int bits = in.ConsumeBool() ? 16 : 8;
    const int rate = in.ConsumeIntegralInRange(1, 192000);
    const std::int64_t bytesPerMsTimes8 = static_cast<std::int64_t>(bits) * channels * rate;
    const std::int64_t maxMs =
        std::max<std::int64_t>(1, (std::int64_t{1} << 17) * 1000 / bytesPerMsTimes8);
    const std::int64_t totalMs = in.ConsumeIntegralInRange<std::int64_t>(0, maxMs);
    const auto frameCapacity = static_cast<std::uint32_t>(rate * (totalMs + 1) / 1000);
    const auto blockBytes = static_cast<std::uint32_t>((totalMs + 1) * bytesPerMsTimes8 / 8000);

    auto* cb = new CGrabberCallback();
    FUZZ_CHECK(cb->AddRef() == 1);
    FUZZ_CHECK(cb->SetCaptureBuffer(blockBytes));
    cb->m_bCapture.store(1, std::memory_order_release);
    CaptureModel model;
    model.capacity = blockBytes;

    std::vector<double> samples(frameCapacity), windowed(frameCapacity);
    auto spectrum = std::make_unique<vurma::SpectrumArrays>();
    vurma::AnalysisResult result;
    std::vector<std::uint8_t> buffer;

    const auto view = [&] {
        return vurma::PcmView{cb->m_pData, cb->m_nDataLen.load(std::memory_order_acquire), channels,
                              bits};
    };

    for (int step = 0; step < 256 && in.remaining_bytes() > 0; ++step) {
        switch (in.ConsumeIntegralInRange(0, 7)) {
            case 0:
            case 1:
            case 2: {  // a decoded buffer
                long length = in.ConsumeIntegralInRange<long>(-2, 16384);
                const bool noPointer = in.ConsumeIntegralInRange(0, 15) == 0;
                const bool preroll = in.ConsumeIntegralInRange(0, 7) == 0;
                const bool discontinuity = in.ConsumeIntegralInRange(0, 7) == 0;
                const double time = PickTime(in, model.lastTime);
                buffer.assign(static_cast<std::size_t>(std::max(length, 1L)), 0);
                const std::vector<std::uint8_t> fill =
                    in.ConsumeBytes<std::uint8_t>(std::min<std::size_t>(buffer.size(), 64));
                // Pad the buffer with a pattern seeded from the fuzzer's bytes.
                for (std::size_t i = 0; i < buffer.size(); ++i)
                    buffer[i] = fill.empty() ? static_cast<std::uint8_t>(i * 31 + step)
                                             : static_cast<std::uint8_t>(fill[i % fill.size()] + i);
                std::uint8_t* pointer = noPointer ? nullptr : buffer.data();
                FuzzSample sample(pointer, length, preroll, discontinuity);
                FUZZ_CHECK(cb->SampleCB(time, &sample) == vurma::media::S_OK);
                model.Offer(pointer, length, time, preroll, discontinuity);
                break;
            }
            case 3: {  // the window stops (or, defensively, restarts) the capture
                const int flag = in.ConsumeIntegralInRange(0, 3) == 0 ? 1 : 0;
                cb->m_bCapture.store(flag, std::memory_order_release);
                model.capturing = flag != 0;
                break;
            }
            case 4:
            case 5: {  // a live frame at a playing position, as the timer takes it
                const int fftIndex = in.ConsumeIntegralInRange(0, vurma::kFftSizeCount - 1);
                const int n = vurma::g_nFftSize[fftIndex];
                const auto position = in.ConsumeIntegral<std::int64_t>();
                if (static_cast<std::uint32_t>(n) > frameCapacity) break;
                const vurma::PcmView pcm = view();
                std::uint32_t first = vurma::FrameAtPosition(rate, position);
                const std::uint32_t captured = vurma::CompleteFrames(pcm);
                if (static_cast<std::uint64_t>(first) + n > captured &&
                    captured >= static_cast<std::uint32_t>(n))
                    first = captured - n;
                const bool converted =
                    vurma::ConvertSamples(pcm, first, n, samples.data(), windowed.data(), 0);
                FUZZ_CHECK(converted == (static_cast<std::uint64_t>(first) + n <= captured));
                if (converted) CheckSamples(samples, n, bits);
                vurma::AnalysisSettings settings{
                    fftIndex, in.ConsumeIntegralInRange(0, vurma::kGainCount - 1),
                    in.ConsumeIntegralInRange(0, 3)};
                vurma::Analyze(samples.data(), windowed.data(), n, 0, rate, settings, *spectrum,
                               &result);
                break;
            }
            default: {  // the invariants of the block hold at every moment
                const vurma::PcmView pcm = view();
                FUZZ_CHECK(pcm.dataLen <= cb->m_nBufSize);
                FUZZ_CHECK(vurma::CompleteFrames(pcm) <= frameCapacity);
                break;
            }
        }
    }

    // The end of the capture.
    cb->m_bCapture.store(0, std::memory_order_release);
    const vurma::PcmView pcm = view();
    FUZZ_CHECK(pcm.dataLen == model.bytes.size());
    FUZZ_CHECK(pcm.dataLen == 0 || std::memcmp(pcm.data, model.bytes.data(), pcm.dataLen) == 0);
    const std::uint32_t n = vurma::CompleteFrames(pcm);
    FUZZ_CHECK(n <= frameCapacity);
    FUZZ_CHECK(vurma::ConvertSamples(pcm, 0, n, samples.data(), windowed.data(), 0));
    CheckSamples(samples, n, bits);
    const int loudest = vurma::FindLoudestSample(samples.data(), static_cast<int>(n));
    FUZZ_CHECK(loudest >= 0 && (n == 0 || static_cast<std::uint32_t>(loudest) < n));

    const int selected = in.ConsumeIntegralInRange(0, vurma::kFftSizeCount - 1);
    const vurma::FinishDecision decision =
        vurma::DecideFinishCapture(static_cast<int>(n), selected);
    FUZZ_CHECK(decision.tooFew == (n < static_cast<std::uint32_t>(vurma::kMinSamplesToCompute)));
    FUZZ_CHECK(decision.fftIndex >= 0 && decision.fftIndex <= selected);
    FUZZ_CHECK(decision.tooFew ? decision.fftIndex == 0 : decision.fftIndex >= selected - 1);

    // Analysis passes anywhere, with any list selection (also outside the
    // tables): they must analyse inside the samples or refuse.
    for (int pass = 0; pass < 8 && in.remaining_bytes() > 0; ++pass) {
        vurma::AnalysisSettings settings{in.ConsumeIntegralInRange(-1, vurma::kFftSizeCount),
                                         in.ConsumeIntegralInRange(-1, vurma::kGainCount),
                                         in.ConsumeIntegralInRange(-1, 4)};
        const int start = in.ConsumeBool() ? in.ConsumeIntegral<int>()
                                           : in.ConsumeIntegralInRange(0, static_cast<int>(n));
        // Any rate a file header can claim.
        const int analyseRate =
            in.ConsumeBool() ? rate : in.ConsumeIntegralInRange(1, std::numeric_limits<int>::max());
        if (!vurma::Analyze(samples.data(), windowed.data(), static_cast<int>(n), start,
                            analyseRate, settings, *spectrum, &result))
            continue;
        const int N = vurma::g_nFftSize[settings.fftIndex];
        FUZZ_CHECK(start >= 0 && start + N <= static_cast<int>(n));
        FUZZ_CHECK(result.peakBin >= 1 && result.peakBin <= N / 2);
        FUZZ_CHECK(!result.peakText.empty());
        for (int i = start; i < start + N; ++i) FUZZ_CHECK(!std::isnan(windowed[i]));
    }

    FUZZ_CHECK(cb->Release() == 0);
    return 0;
}
