#include "sample_store.h"

#include <algorithm>

#include <cmath>
#include <cstdint>
#include <limits>

#include "settings.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include "cpu_dispatch.h"

#if defined(VURMA_HAVE_AVX2_PATH)
#include <immintrin.h>
#endif

namespace vurma {

namespace {

// Bytes per sample for the supported widths; 0 for anything else.
int BytesPerSample(const PcmView& pcm) {
    switch (pcm.bitsPerSample) {
        case 8:
        case 16:
        case 24:
        case 32:
            return pcm.bitsPerSample / 8;
        default:
            return 0;
    }
}

// The signed 24-bit and 32-bit little-endian samples at p.
inline double Pcm24(const std::uint8_t* p) {
    const std::uint32_t u = p[0] | (p[1] << 8) | (std::uint32_t{p[2]} << 16);
    return static_cast<std::int32_t>(u << 8) >> 8;
}
inline double Pcm32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) |
                                     (std::uint32_t{p[3]} << 24));
}

// Hi-res samples: plain division, one frame at a time.
template <int Bytes>
void ConvertWide(const std::uint8_t* src, int channels, std::uint32_t count, double* out,
                 double* outWindowed) {
    constexpr double kDivisor = Bytes == 3 ? 8388607.0 : 2147483647.0;
    for (std::uint32_t i = 0; i < count; ++i) {
        double sum = 0.0;
        for (int c = 0; c < channels; ++c) {
            const std::uint8_t* p = src + Bytes * c;
            sum += (Bytes == 3 ? Pcm24(p) : Pcm32(p)) / kDivisor;
        }
        const double value = sum / channels;
        out[i] = value;
        outWindowed[i] = value;
        src += Bytes * channels;
    }
}

// The signed 16-bit little-endian sample at p.
inline double Pcm16(const std::uint8_t* p) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}

// x / 32767 and x / 127 without a division. The reciprocal is split into a
// high part short enough that x * high is exact for every sample value (31
// and 39 significant bits against 16 and 8 bits of x) and the remainder; the
// one rounding of the final sum then gives the correctly rounded quotient.
// The tests compare the result with x / 32767.0 and x / 127.0 for every
// possible sample value.
constexpr double kInv32767High = 0x1.0002000400000p-15;
constexpr double kInv32767Low = 0x1.0002000400080p-60;
constexpr double kInv127High = 0x1.0204081020400p-7;
constexpr double kInv127Low = 0x1.0204081020408p-56;

inline double Div32767(double x) { return x * kInv32767High + x * kInv32767Low; }
inline double Div127(double x) { return x * kInv127High + x * kInv127Low; }

// The loops below are the hot path of a whole-file conversion. With SSE2
// they take two or four frames per step; each lane rounds exactly where the
// scalar expression does, so the values are identical.
#if defined(__SSE2__)
// x * high + x * low, the division by 32767 with the split reciprocal.
inline __m128d Div32767(__m128d x, __m128d high, __m128d low) {
    return _mm_add_pd(_mm_mul_pd(x, high), _mm_mul_pd(x, low));
}
#endif

std::uint32_t ConvertMono16(const std::uint8_t* src, std::uint32_t count, double* out,
                            double* outWindowed) {
    std::uint32_t i = 0;
#if defined(__SSE2__)
    const __m128d high = _mm_set1_pd(kInv32767High);
    const __m128d low = _mm_set1_pd(kInv32767Low);
    for (; i + 4 <= count; i += 4) {
        const __m128i pcm = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + 2 * i));
        const __m128i wide = _mm_srai_epi32(_mm_unpacklo_epi16(pcm, pcm), 16);
        const __m128d lo = Div32767(_mm_cvtepi32_pd(wide), high, low);
        const __m128d hi =
            Div32767(_mm_cvtepi32_pd(_mm_shuffle_epi32(wide, _MM_SHUFFLE(1, 0, 3, 2))), high, low);
        _mm_storeu_pd(out + i, lo);
        _mm_storeu_pd(out + i + 2, hi);
        _mm_storeu_pd(outWindowed + i, lo);
        _mm_storeu_pd(outWindowed + i + 2, hi);
    }
#endif
    for (; i < count; ++i) {
        const double value = Div32767(Pcm16(src + 2 * i));
        out[i] = value;
        outWindowed[i] = value;
    }
    return count;
}

std::uint32_t ConvertStereo16(const std::uint8_t* src, std::uint32_t count, double* out,
                              double* outWindowed) {
    std::uint32_t i = 0;
#if defined(__SSE2__)
    // Halving commutes with the rounding, so (a / 32767 + b / 32767) / 2 is
    // formed with halved constants and no separate multiply.
    const __m128d high = _mm_set1_pd(kInv32767High / 2);
    const __m128d low = _mm_set1_pd(kInv32767Low / 2);
    for (; i + 2 <= count; i += 2) {
        // Two frames L0 R0 L1 R1, regrouped as L0 L1 R0 R1.
        const __m128i pcm = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + 4 * i));
        const __m128i wide = _mm_srai_epi32(_mm_unpacklo_epi16(pcm, pcm), 16);
        const __m128i grouped = _mm_shuffle_epi32(wide, _MM_SHUFFLE(3, 1, 2, 0));
        const __m128d left = Div32767(_mm_cvtepi32_pd(grouped), high, low);
        const __m128d right = Div32767(
            _mm_cvtepi32_pd(_mm_shuffle_epi32(grouped, _MM_SHUFFLE(1, 0, 3, 2))), high, low);
        const __m128d value = _mm_add_pd(left, right);
        _mm_storeu_pd(out + i, value);
        _mm_storeu_pd(outWindowed + i, value);
    }
#endif
    for (; i < count; ++i) {
        const double value = (Div32767(Pcm16(src + 4 * i)) + Div32767(Pcm16(src + 4 * i + 2))) / 2;
        out[i] = value;
        outWindowed[i] = value;
    }
    return count;
}

#if defined(VURMA_HAVE_AVX2_PATH)
// The same operations four frames at a time, for processors with AVX2 (the
// default build targets plain x86-64, so this is chosen at run time). Only
// separate multiplies and adds are used: no fused multiply-add.

// x * high + x * low, the division by 32767 with the split reciprocal.
__attribute__((target("avx2"))) inline __m256d Div32767Avx(__m256d x, __m256d high, __m256d low) {
    return _mm256_add_pd(_mm256_mul_pd(x, high), _mm256_mul_pd(x, low));
}

__attribute__((target("avx2"))) std::uint32_t ConvertMono16Avx2(const std::uint8_t* src,
                                                                std::uint32_t count, double* out,
                                                                double* outWindowed) {
    const __m256d high = _mm256_set1_pd(kInv32767High);
    const __m256d low = _mm256_set1_pd(kInv32767Low);
    std::uint32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i pcm = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + 2 * i));
        const __m256d value = Div32767Avx(_mm256_cvtepi32_pd(_mm_cvtepi16_epi32(pcm)), high, low);
        _mm256_storeu_pd(out + i, value);
        _mm256_storeu_pd(outWindowed + i, value);
    }
    return i;
}

__attribute__((target("avx2"))) std::uint32_t ConvertStereo16Avx2(const std::uint8_t* src,
                                                                  std::uint32_t count, double* out,
                                                                  double* outWindowed) {
    // L0 R0 L1 R1 L2 R2 L3 R3 regrouped as L0 L1 L2 L3 R0 R1 R2 R3.
    const __m128i regroup = _mm_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15);
    // Halving commutes with the rounding, so (a / 32767 + b / 32767) / 2 is
    // formed with halved constants and no separate multiply.
    const __m256d high = _mm256_set1_pd(kInv32767High / 2);
    const __m256d low = _mm256_set1_pd(kInv32767Low / 2);
    std::uint32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i pcm = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i));
        const __m128i grouped = _mm_shuffle_epi8(pcm, regroup);
        const __m256d left =
            Div32767Avx(_mm256_cvtepi32_pd(_mm_cvtepi16_epi32(grouped)), high, low);
        const __m256d right = Div32767Avx(
            _mm256_cvtepi32_pd(_mm_cvtepi16_epi32(_mm_srli_si128(grouped, 8))), high, low);
        const __m256d value = _mm256_add_pd(left, right);
        _mm256_storeu_pd(out + i, value);
        _mm256_storeu_pd(outWindowed + i, value);
    }
    return i;
}

// Largest |left + right| over whole groups of 8 frames; returns the frames done.
__attribute__((target("avx2"))) std::uint32_t MaxStereoSumAvx2(const std::uint8_t* src,
                                                               std::uint32_t count, int* best) {
    const __m256i ones = _mm256_set1_epi16(1);
    __m256i top = _mm256_setzero_si256();
    std::uint32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i pcm = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * i));
        top = _mm256_max_epi32(top, _mm256_abs_epi32(_mm256_madd_epi16(pcm, ones)));
    }
    alignas(32) int lanes[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), top);
    for (const int lane : lanes) *best = std::max(*best, lane);
    return i;
}

#endif

}  // namespace

std::uint32_t CompleteFrames(const PcmView& pcm) {
    const int bytes = BytesPerSample(pcm);
    if (bytes == 0 || pcm.channels <= 0 || pcm.data == nullptr) return 0;
    return (pcm.dataLen / static_cast<std::uint32_t>(bytes)) /
           static_cast<std::uint32_t>(pcm.channels);
}

bool ConvertSamples(const PcmView& pcm, std::uint32_t first, std::uint32_t count, double* samples,
                    double* windowed, std::uint32_t index) {
    const std::uint32_t frames = CompleteFrames(pcm);
    if (static_cast<std::uint64_t>(first) + count > frames) return false;
    if (count == 0) return true;
    if (samples == nullptr || windowed == nullptr) return false;

    const int channels = pcm.channels;
    double* out = samples + index;
    double* outWindowed = windowed + index;

    // Every path computes the same expression in the same order: the sum of
    // the per-channel values (x / 127 - 1 or x / 32767), divided by channels.
    if (pcm.bitsPerSample == 8) {
        const std::uint8_t* src = pcm.data + static_cast<std::size_t>(first) * channels;
        for (std::uint32_t i = 0; i < count; ++i) {
            double sum = 0.0;
            for (int c = 0; c < channels; ++c) sum += Div127(src[c]) - 1;
            const double value = sum / channels;
            out[i] = value;
            outWindowed[i] = value;
            src += channels;
        }
        return true;
    }

    if (pcm.bitsPerSample == 24 || pcm.bitsPerSample == 32) {
        const int bytes = pcm.bitsPerSample / 8;
        const std::uint8_t* src = pcm.data + static_cast<std::size_t>(first) * channels * bytes;
        if (bytes == 3) {
            ConvertWide<3>(src, channels, count, out, outWindowed);
        } else {
            ConvertWide<4>(src, channels, count, out, outWindowed);
        }
        return true;
    }

    const std::uint8_t* src = pcm.data + static_cast<std::size_t>(first) * channels * 2;
    if (channels == 1) {
        std::uint32_t done = 0;
#if defined(VURMA_HAVE_AVX2_PATH)
        if (UseAvx2()) done = ConvertMono16Avx2(src, count, out, outWindowed);
#endif
        ConvertMono16(src + 2 * done, count - done, out + done, outWindowed + done);
    } else if (channels == 2) {
        std::uint32_t done = 0;
#if defined(VURMA_HAVE_AVX2_PATH)
        if (UseAvx2()) done = ConvertStereo16Avx2(src, count, out, outWindowed);
#endif
        ConvertStereo16(src + 4 * done, count - done, out + done, outWindowed + done);
    } else {
        for (std::uint32_t i = 0; i < count; ++i) {
            double sum = 0.0;
            for (int c = 0; c < channels; ++c) sum += Div32767(Pcm16(src + 2 * c));
            const double value = sum / channels;
            out[i] = value;
            outWindowed[i] = value;
            src += 2 * channels;
        }
    }
    return true;
}

namespace {

// The largest |left + right| of `count` 16-bit stereo frames. Sums that
// differ order the mono magnitudes the same way (they differ by 1/65534,
// far beyond the rounding of the conversion), so a step whose largest sum
// is below the best one so far cannot hold a louder sample.
int MaxStereoSum(const std::uint8_t* src, std::uint32_t count) {
    std::uint32_t i = 0;
    int best = 0;
#if defined(VURMA_HAVE_AVX2_PATH)
    if (UseAvx2()) i = MaxStereoSumAvx2(src, count, &best);
#endif
    for (; i < count; ++i) {
        const int sum =
            static_cast<int>(Pcm16(src + 4 * i)) + static_cast<int>(Pcm16(src + 4 * i + 2));
        best = std::max(best, sum < 0 ? -sum : sum);
    }
    return best;
}

// The largest magnitude among x[0..n-1] (0 for none). A maximum does not
// depend on the order it is taken in, so four lanes may share the work.
double MaxMagnitude(const double* x, std::uint32_t n) {
    std::uint32_t i = 0;
    double best = 0.0;
#if defined(__SSE2__)
    const __m128d sign = _mm_set1_pd(-0.0);
    __m128d m0 = _mm_setzero_pd(), m1 = _mm_setzero_pd();
    for (; i + 4 <= n; i += 4) {
        m0 = _mm_max_pd(m0, _mm_andnot_pd(sign, _mm_loadu_pd(x + i)));
        m1 = _mm_max_pd(m1, _mm_andnot_pd(sign, _mm_loadu_pd(x + i + 2)));
    }
    double lanes[2];
    _mm_storeu_pd(lanes, _mm_max_pd(m0, m1));
    best = std::max(lanes[0], lanes[1]);
#endif
    for (; i < n; ++i) best = std::max(best, std::fabs(x[i]));
    return best;
}

}  // namespace

std::uint32_t SearchFrameStart(std::uint32_t loudest, std::uint32_t frames, std::uint32_t fftSize) {
    return frames >= fftSize ? std::min(loudest, frames - fftSize) : loudest;
}

std::uint32_t FindLoudestFrame(const PcmView& pcm, std::uint32_t frames, double* scratch,
                               std::uint32_t blockFrames) {
    double best = 0.0;
    std::uint32_t result = 0;
    if (scratch == nullptr || blockFrames == 0) return 0;
    // Small steps keep the converted samples in the first-level cache.
    const std::uint32_t step = std::min<std::uint32_t>(blockFrames, 4096);
    const bool stereo16 = pcm.bitsPerSample == 16 && pcm.channels == 2 &&
                          static_cast<std::uint64_t>(frames) <= CompleteFrames(pcm);
    int bestSum = 0;
    for (std::uint32_t first = 0; first < frames; first += step) {
        const std::uint32_t count = std::min(step, frames - first);
        if (stereo16) {
            // Equal sums may still differ in the last bit: those are converted.
            const int sum = MaxStereoSum(pcm.data + static_cast<std::size_t>(first) * 4, count);
            if (sum < bestSum || sum == 0) continue;
            bestSum = sum;
        }
        if (!ConvertSamples(pcm, first, count, scratch, scratch, 0)) break;
        // Only a step holding a new strict maximum can hold the result: its
        // earliest sample of that magnitude, as the whole search finds.
        const double top = MaxMagnitude(scratch, count);
        if (top > best) {
            best = top;
            std::uint32_t i = 0;
            while (std::fabs(scratch[i]) != top) ++i;
            result = first + i;
        }
    }
    return result;
}

int FindLoudestSample(const double* samples, int n) {
    if (n < 1 || samples == nullptr) return 0;
    double best = 0.0;
    int result = 0;
    for (int i = 0; i < n; ++i) {
        const double magnitude = std::fabs(samples[i]);
        if (magnitude > best) {
            best = magnitude;
            result = i;
        }
    }
    return result;
}

std::uint32_t FrameAtPosition(int sampleRate, std::int64_t position) {
    if (sampleRate <= 0 || position <= 0) return 0;
    if (position > std::numeric_limits<std::int64_t>::max() / sampleRate)
        return std::numeric_limits<std::uint32_t>::max();
    const double frame = static_cast<double>(sampleRate * position) * 1e-7;
    if (frame >= 4294967295.0) return std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(frame);
}

FinishDecision DecideFinishCapture(int nSamples, int selectedFftIndex) {
    FinishDecision decision;
    if (nSamples < kMinSamplesToCompute) {
        decision.tooFew = true;
        decision.fftIndex = 0;
        return decision;
    }
    int index = selectedFftIndex;
    if (index < 0) index = 0;
    if (index >= kFftSizeCount) index = kFftSizeCount - 1;
    // One step down at most, even if the smaller size still does not fit.
    if (nSamples < g_nFftSize[index] && index > 0) --index;
    decision.fftIndex = index;
    return decision;
}

}  // namespace vurma
