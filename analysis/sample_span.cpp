#include "sample_span.h"

#include <algorithm>
#include <cstdlib>

namespace vurma {

SampleSpan::~SampleSpan() { Free(); }

void SampleSpan::Free() {
    std::free(data_);
    data_ = nullptr;
    capacity_ = 0;
    count_ = 0;
}

bool SampleSpan::Reserve(std::uint32_t count) {
    if (count <= capacity_) return true;
    void* grown = std::realloc(data_, static_cast<std::size_t>(count) * sizeof(double));
    if (grown == nullptr) return false;
    data_ = static_cast<double*>(grown);
    capacity_ = count;
    return true;
}

const double* SampleSpan::Find(std::uint32_t first, std::uint32_t count) const {
    if (count == 0 || first < first_ ||
        static_cast<std::uint64_t>(first) + count > static_cast<std::uint64_t>(first_) + count_)
        return nullptr;
    return data_ + (first - first_);
}

double* SampleSpan::Hold(std::uint32_t first, std::uint32_t count) {
    if (count == 0 || !Reserve(count)) return nullptr;
    first_ = first;
    count_ = count;
    return data_;
}

const double* SampleSpan::Get(const PcmView& pcm, std::uint32_t first, std::uint32_t count) {
    if (const double* held = Find(first, count)) return held;
    const std::uint32_t frames = CompleteFrames(pcm);
    if (count == 0 || static_cast<std::uint64_t>(first) + count > frames) return nullptr;
    // A block around the request: from `first` on, moved back near the end.
    const std::uint32_t want = std::max(count, kBlockFrames);
    const std::uint32_t end = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(frames, static_cast<std::uint64_t>(first) + want));
    const std::uint32_t start = end - first >= want ? first : (end > want ? end - want : 0);
    double* out = Hold(start, end - start);
    if (out == nullptr || !ConvertSamples(pcm, start, end - start, out, out, 0)) {
        count_ = 0;
        return nullptr;
    }
    return out + (first - start);
}

}  // namespace vurma
