#include "fft.h"

#include <cmath>
#include <mutex>
#include <utility>
#include <vector>

#include "cpu_dispatch.h"

#if defined(VURMA_HAVE_AVX2_PATH)
#include <immintrin.h>
#endif

namespace vurma {

namespace {

constexpr unsigned kMaxExponent = 12;

// Per-size constants, built once on first use of a size. The twiddles of
// stage s (span N >> s) start at N - (N >> s) and hold cos/sin of the angles
// 0, step, step + step, ... accumulated by addition exactly as one running
// angle per stage would be, so every butterfly sees the same values.
struct Plan {
    std::vector<double> cs;
    std::vector<double> sn;
    std::vector<std::pair<int, int>> swaps;  // bit-reversal exchanges, i < j
};

void BuildPlan(unsigned p, Plan& plan) {
    const int N = 1 << p;
    plan.cs.resize(N);
    plan.sn.resize(N);
    double step = 8 * std::atan(1.0) / N;
    int offset = 0;
    for (unsigned s = 0; s < p; ++s) {
        const int half = (N >> s) / 2;
        double angle = 0.0;
        for (int j = 0; j < half; ++j) {
            plan.cs[offset + j] = std::cos(angle);
            plan.sn[offset + j] = std::sin(angle);
            angle = angle + step;
        }
        offset += half;
        step = step * 2;
    }
    int j = 0;
    for (int i = 0; i < N - 1; ++i) {
        if (i < j) plan.swaps.emplace_back(i, j);
        int m = N / 2;
        while (m <= j) {
            j = j - m;
            m = m / 2;
        }
        j = j + m;
    }
}

// Spectra are computed from worker threads too: each size is built under
// its own once-flag.
const Plan& PlanFor(unsigned p) {
    static Plan plans[kMaxExponent + 1];
    static std::once_flag built[kMaxExponent + 1];
    std::call_once(built[p], [p] { BuildPlan(p, plans[p]); });
    return plans[p];
}

// One decimation-in-frequency stage over blocks of span = 2 * half, the
// inner loop running over contiguous butterflies of a block. Each butterfly
// is computed with the same operations in the same order as always.
inline void Butterflies(double* re, double* im, int N, int half, const double* cs,
                        const double* sn) {
    for (int b = 0; b < N; b += 2 * half) {
        double* xr = re + b;
        double* xi = im + b;
        double* yr = xr + half;
        double* yi = xi + half;
        for (int j = 0; j < half; ++j) {
            const double dr = xr[j] - yr[j];
            const double di = xi[j] - yi[j];
            xr[j] = xr[j] + yr[j];
            xi[j] = xi[j] + yi[j];
            yr[j] = dr * cs[j] + di * sn[j];
            yi[j] = di * cs[j] - dr * sn[j];
        }
    }
}

void TransformScalar(const Plan& plan, unsigned p, double* re, double* im) {
    const int N = 1 << p;
    int offset = 0;
    for (unsigned s = 0; s < p; ++s) {
        const int half = (N >> s) / 2;
        Butterflies(re, im, N, half, plan.cs.data() + offset, plan.sn.data() + offset);
        offset += half;
    }
}

#if defined(VURMA_HAVE_AVX2_PATH)
// Four butterflies at a time with separate multiplies and adds (no fused
// multiply-add), so the results equal the scalar loop's. The stages with
// fewer than four butterflies per block stay scalar.
// One butterfly on four lanes: x = x + y; y = (x - y) * (cs - i sn).
__attribute__((target("avx2"))) inline void ButterflyAvx2(__m256d& xr, __m256d& xi, __m256d& yr,
                                                          __m256d& yi, __m256d cs, __m256d sn) {
    const __m256d dr = _mm256_sub_pd(xr, yr);
    const __m256d di = _mm256_sub_pd(xi, yi);
    xr = _mm256_add_pd(xr, yr);
    xi = _mm256_add_pd(xi, yi);
    yr = _mm256_add_pd(_mm256_mul_pd(dr, cs), _mm256_mul_pd(di, sn));
    yi = _mm256_sub_pd(_mm256_mul_pd(di, cs), _mm256_mul_pd(dr, sn));
}

// The stages of span 4 and span 2 together, eight values at a time: the
// lanes are regrouped so that each vector holds the x or the y side of four
// butterflies, then put back.
__attribute__((target("avx2"))) void LastTwoStagesAvx2(double* re, double* im, int N,
                                                       const double* cs4, const double* sn4,
                                                       const double* cs2, const double* sn2) {
    const __m256d c4 = _mm256_setr_pd(cs4[0], cs4[1], cs4[0], cs4[1]);
    const __m256d s4 = _mm256_setr_pd(sn4[0], sn4[1], sn4[0], sn4[1]);
    const __m256d c2 = _mm256_set1_pd(cs2[0]);
    const __m256d s2 = _mm256_set1_pd(sn2[0]);
    for (int b = 0; b < N; b += 8) {
        const __m256d r0 = _mm256_loadu_pd(re + b), r1 = _mm256_loadu_pd(re + b + 4);
        const __m256d i0 = _mm256_loadu_pd(im + b), i1 = _mm256_loadu_pd(im + b + 4);
        // Span 4: x = {b, b+1, b+4, b+5}, y = {b+2, b+3, b+6, b+7}.
        __m256d xr = _mm256_permute2f128_pd(r0, r1, 0x20),
                yr = _mm256_permute2f128_pd(r0, r1, 0x31);
        __m256d xi = _mm256_permute2f128_pd(i0, i1, 0x20),
                yi = _mm256_permute2f128_pd(i0, i1, 0x31);
        ButterflyAvx2(xr, xi, yr, yi, c4, s4);
        // Span 2: x = {b, b+2, b+4, b+6}, y = {b+1, b+3, b+5, b+7}.
        __m256d ur = _mm256_unpacklo_pd(xr, yr), vr = _mm256_unpackhi_pd(xr, yr);
        __m256d ui = _mm256_unpacklo_pd(xi, yi), vi = _mm256_unpackhi_pd(xi, yi);
        ButterflyAvx2(ur, ui, vr, vi, c2, s2);
        // Back to b..b+3 and b+4..b+7.
        const __m256d lr = _mm256_unpacklo_pd(ur, vr), hr = _mm256_unpackhi_pd(ur, vr);
        const __m256d li = _mm256_unpacklo_pd(ui, vi), hi = _mm256_unpackhi_pd(ui, vi);
        _mm256_storeu_pd(re + b, _mm256_permute2f128_pd(lr, hr, 0x20));
        _mm256_storeu_pd(re + b + 4, _mm256_permute2f128_pd(lr, hr, 0x31));
        _mm256_storeu_pd(im + b, _mm256_permute2f128_pd(li, hi, 0x20));
        _mm256_storeu_pd(im + b + 4, _mm256_permute2f128_pd(li, hi, 0x31));
    }
}

// One stage, four butterflies per step.
__attribute__((target("avx2"))) void StageAvx2(double* re, double* im, int N, int half,
                                               const double* cs, const double* sn) {
    for (int b = 0; b < N; b += 2 * half) {
        double* xr = re + b;
        double* xi = im + b;
        for (int j = 0; j < half; j += 4) {
            __m256d ar = _mm256_loadu_pd(xr + j), ai = _mm256_loadu_pd(xi + j);
            __m256d br = _mm256_loadu_pd(xr + half + j), bi = _mm256_loadu_pd(xi + half + j);
            ButterflyAvx2(ar, ai, br, bi, _mm256_loadu_pd(cs + j), _mm256_loadu_pd(sn + j));
            _mm256_storeu_pd(xr + j, ar);
            _mm256_storeu_pd(xi + j, ai);
            _mm256_storeu_pd(xr + half + j, br);
            _mm256_storeu_pd(xi + half + j, bi);
        }
    }
}

// Two consecutive stages (spans 4q and 2q, q >= 4) in one pass: each value
// is loaded and stored once for both. Quarter k of a block holds index j + kq.
__attribute__((target("avx2"))) void TwoStagesAvx2(double* re, double* im, int N, int q,
                                                   const double* cs1, const double* sn1,
                                                   const double* cs2, const double* sn2) {
    for (int b = 0; b < N; b += 4 * q) {
        double* r = re + b;
        double* i = im + b;
        for (int j = 0; j < q; j += 4) {
            __m256d r0 = _mm256_loadu_pd(r + j), i0 = _mm256_loadu_pd(i + j);
            __m256d r1 = _mm256_loadu_pd(r + q + j), i1 = _mm256_loadu_pd(i + q + j);
            __m256d r2 = _mm256_loadu_pd(r + 2 * q + j), i2 = _mm256_loadu_pd(i + 2 * q + j);
            __m256d r3 = _mm256_loadu_pd(r + 3 * q + j), i3 = _mm256_loadu_pd(i + 3 * q + j);
            ButterflyAvx2(r0, i0, r2, i2, _mm256_loadu_pd(cs1 + j), _mm256_loadu_pd(sn1 + j));
            ButterflyAvx2(r1, i1, r3, i3, _mm256_loadu_pd(cs1 + q + j),
                          _mm256_loadu_pd(sn1 + q + j));
            const __m256d c2 = _mm256_loadu_pd(cs2 + j), s2 = _mm256_loadu_pd(sn2 + j);
            ButterflyAvx2(r0, i0, r1, i1, c2, s2);
            ButterflyAvx2(r2, i2, r3, i3, c2, s2);
            _mm256_storeu_pd(r + j, r0);
            _mm256_storeu_pd(i + j, i0);
            _mm256_storeu_pd(r + q + j, r1);
            _mm256_storeu_pd(i + q + j, i1);
            _mm256_storeu_pd(r + 2 * q + j, r2);
            _mm256_storeu_pd(i + 2 * q + j, i2);
            _mm256_storeu_pd(r + 3 * q + j, r3);
            _mm256_storeu_pd(i + 3 * q + j, i3);
        }
    }
}

// Stages taken two at a time where they are wide enough, the last two (spans
// 4 and 2) with regrouped lanes; sizes below 8 stay scalar.
__attribute__((target("avx2"))) void TransformAvx2(const Plan& plan, unsigned p, double* re,
                                                   double* im) {
    const int N = 1 << p;
    if (N < 8) {
        TransformScalar(plan, p, re, im);
        return;
    }
    const double* cs = plan.cs.data();
    const double* sn = plan.sn.data();
    int half = N / 2;
    while (half >= 4) {
        if (half >= 8) {
            TwoStagesAvx2(re, im, N, half / 2, cs, sn, cs + half, sn + half);
            cs += half + half / 2;
            sn += half + half / 2;
            half /= 4;
        } else {
            StageAvx2(re, im, N, half, cs, sn);
            cs += half;
            sn += half;
            half /= 2;
        }
    }
    LastTwoStagesAvx2(re, im, N, cs, sn, cs + 2, sn + 2);
}
#endif

}  // namespace

void ComputeSpectrum(unsigned p, const double* input, double* db, double* re, double* im) {
    // Sizes beyond the fixed arrays would write out of bounds.
    if (p < 1 || p > kMaxExponent) return;
    const int N = 1 << p;
    const Plan& plan = PlanFor(p);

    for (int i = 0; i < N; ++i) {
        re[i] = input[i];
        im[i] = 0.0;
    }
    re[N] = 0.0;
    im[N] = 0.0;

#if defined(VURMA_HAVE_AVX2_PATH)
    if (UseAvx2())
        TransformAvx2(plan, p, re, im);
    else
#endif
        TransformScalar(plan, p, re, im);

    // Bit reversal brings the bins into natural order.
    for (const auto& [i, j] : plan.swaps) {
        std::swap(re[i], re[j]);
        std::swap(im[i], im[j]);
    }

    // Scale by 2/N so that a unit sine on a bin reads 0 dB.
    static const double kLog10Of2 = std::log10(2.0);
    const int halfN = N / 2;
    for (int k = 0; k <= halfN; ++k) {
        re[k] = re[k] / halfN;
        im[k] = im[k] / halfN;
        const double power = re[k] * re[k] + im[k] * im[k];
        db[k] = kLog10Of2 * std::log2(power) * 10;
    }
}

void ClearSpectrum(double* db) {
    for (int k = 0; k < kSpectrumSlots; ++k) db[k] = 0.0;
}

}  // namespace vurma
