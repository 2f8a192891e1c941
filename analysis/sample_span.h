// The sample store as the window uses it: mono samples converted from the
// capture on demand, one span at a time (the analysed frame, the waveform's
// visible part), instead of a second full-length copy of the recording.
#pragma once

#include <cstdint>

#include "sample_store.h"

namespace vurma {

class SampleSpan {
  public:
    // Frames converted at least per miss, so that slider steps reuse them.
    static constexpr std::uint32_t kBlockFrames = 65536;

    SampleSpan() = default;
    ~SampleSpan();
    SampleSpan(const SampleSpan&) = delete;
    SampleSpan& operator=(const SampleSpan&) = delete;

    // Samples first .. first + count - 1 of the capture, kept from an
    // earlier call or converted now (with up to kBlockFrames around them);
    // null when they are not all in `pcm` or memory runs out.
    const double* Get(const PcmView& pcm, std::uint32_t first, std::uint32_t count);
    // The held samples first .. first + count - 1, or null: never converts.
    const double* Find(std::uint32_t first, std::uint32_t count) const;
    // A buffer of `count` entries that from now on stands for samples
    // first .. first + count - 1 (the caller fills it); an earlier buffer of
    // the same size keeps its contents. Null when memory runs out.
    double* Hold(std::uint32_t first, std::uint32_t count);
    // Forgets the held samples (the memory is kept).
    void Reset() { count_ = 0; }
    // Frees everything.
    void Free();

    const double* data() const { return count_ > 0 ? data_ : nullptr; }
    std::uint32_t first() const { return first_; }
    std::uint32_t count() const { return count_; }

  private:
    bool Reserve(std::uint32_t count);
    double* data_ = nullptr;
    std::uint32_t capacity_ = 0;
    std::uint32_t first_ = 0;
    std::uint32_t count_ = 0;
};

}  // namespace vurma
