// The spectrum of a span of a recording (or all of it): frames of N samples
// half a frame apart, windowed, their power averaged per bin (Welch) and
// held at its maximum, for one or more channel sets (mix, left, right, mid,
// side), in dBFS. Toolkit-free.
//
// The accumulator takes interleaved PCM chunk by chunk, so it serves both
// a capture already in memory and a decode that streams. Frames are handed
// in batches to the worker pool and merged in frame order, so the result
// does not depend on how the input was chunked or how many threads ran.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "sample_store.h"
#include "window_shape.h"

namespace vurma {

class WorkerPool;

enum class SpectrumChannel { kMix, kLeft, kRight, kMid, kSide };

// "mix", "left", "right", "mid", "side".
const char* SpectrumChannelName(SpectrumChannel channel);
// Case-insensitive name; nullopt for anything else.
std::optional<SpectrumChannel> ParseSpectrumChannel(std::string_view name);
// Mix: any recording. Left, right, mid and side take the first two channels
// and need at least two.
bool HasSpectrumChannel(SpectrumChannel channel, int channels);
// Every channel set the recording offers: the mix, and for two channels or
// more left, right, mid and side.
std::vector<SpectrumChannel> AllSpectrumChannels(int channels);

inline constexpr int kSpanFftMinSize = 512;
inline constexpr int kSpanFftMaxSize = 65536;
inline constexpr int kSpanFftDefaultSize = 8192;
inline constexpr double kSpanFloorDb = -200.0;  // silence reads this

// A power of two from kSpanFftMinSize to kSpanFftMaxSize.
bool IsSpanFftSize(int size);

struct SpanSpectrumSettings {
    int fftSize = kSpanFftDefaultSize;
    WindowShape window = WindowShape::kHann;
    std::vector<SpectrumChannel> channels{SpectrumChannel::kMix};
};

// Interleaved samples: 8-bit unsigned, or 16-, 24- or 32-bit signed
// little-endian integers, or (isFloat) 32-bit floats. Full scale is 1.0:
// 16-bit x / 32768, 8-bit (x - 128) / 128.
struct PcmFormat {
    int channels = 0;
    int bitsPerSample = 0;
    bool isFloat = false;
    int FrameBytes() const { return channels * (bitsPerSample / 8); }
};

struct SpectrumCurves {
    SpectrumChannel channel = SpectrumChannel::kMix;
    std::vector<double> averageDb;  // bins 0 .. N/2
    std::vector<double> maxDb;
};

struct SpanSpectrum {
    int sampleRate = 0;
    int fftSize = 0;
    WindowShape window = WindowShape::kHann;
    std::int64_t frames = 0;             // transform frames taken; 0: the span is shorter than one
    std::vector<SpectrumCurves> curves;  // in the order the settings name them

    int bins() const { return fftSize / 2 + 1; }
    double HzPerBin() const { return fftSize > 0 ? static_cast<double>(sampleRate) / fftSize : 0; }
};

// Transform frames in a span of `samples` samples: frames of n starting every n/2.
std::int64_t SpanFrameCount(std::int64_t samples, int fftSize);

// Thread use: one thread (the feeder) constructs, feeds and finishes;
// Cancel, FramesDone and Snapshot may be called from any thread.
class SpanAccumulator {
  public:
    // The settings must be valid for the format (IsSpanFftSize, the
    // channels present); pool may be null to compute on the feeder's thread.
    SpanAccumulator(const SpanSpectrumSettings& settings, int sampleRate, const PcmFormat& format,
                    WorkerPool* pool);
    // Cancels and waits for the batches still running.
    ~SpanAccumulator();
    SpanAccumulator(const SpanAccumulator&) = delete;
    SpanAccumulator& operator=(const SpanAccumulator&) = delete;

    // Appends interleaved PCM; a sample or frame may be split across calls.
    // Returns false once cancelled (the bytes are dropped).
    bool Feed(const std::uint8_t* bytes, std::size_t count);
    // Takes the remaining whole frames, waits for every batch and returns
    // the spectrum of everything fed (cancelled: of what was merged).
    SpanSpectrum Finish();

    void Cancel();
    bool Cancelled() const;
    // Transform frames computed and merged so far.
    std::int64_t FramesDone() const;
    // The spectrum of the frames merged so far (for a view that fills in).
    SpanSpectrum Snapshot() const;

    struct Shared;

  private:
    void IssueBatch(int frames);

    std::shared_ptr<Shared> shared_;
    WorkerPool* pool_;
    PcmFormat format_;
    std::vector<std::uint8_t> carry_;  // bytes of an incomplete frame
    std::vector<double> pending_;      // per set: samples not yet issued, set-major
    std::size_t pendingLen_ = 0;       // samples per set in pending_
    std::size_t pendingCap_ = 0;
    std::int64_t nextBatch_ = 0;
    bool finished_ = false;
};

// The spectrum of frames [first, first + count) of a capture: fed in chunks,
// computed on `pool` (null: this thread); stops early when *cancel turns
// true (then the result is incomplete; check the flag).
SpanSpectrum ComputeSpanSpectrum(const PcmView& pcm, int sampleRate, std::uint32_t first,
                                 std::uint32_t count, const SpanSpectrumSettings& settings,
                                 WorkerPool* pool, const std::atomic<bool>* cancel = nullptr);

}  // namespace vurma
