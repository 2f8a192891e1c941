#include "real_fft.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numbers>
#include <vector>

#include "cpu_dispatch.h"

#ifdef VURMA_HAVE_AVX2_PATH
#include <immintrin.h>
#endif

namespace vurma {

// The complex FFT of M = N/2 points runs on split real and imaginary arrays:
// a bit-reversed gather of the input, then decimation-in-time stages two at
// a time (radix 2x2: three twiddle products per four points), whose inner
// loops run over contiguous twiddles and vectorise. The unpacking twiddles
// exp(-2 pi i k / N) finish the real transform.
struct RealFft::Plan {
    int half = 0;  // M
    int log2Half = 0;
    std::vector<int> reverse;  // bit reversal of 0..M-1
    // Per stage length h (1, 2, 4 ... M/2): exp(-i pi j / h) for j < h, at [h, 2h).
    std::vector<double> twRe, twIm;
    std::vector<double> unRe, unIm;  // k = 0..M/2
};

namespace {

std::shared_ptr<const RealFft::Plan> BuildPlan(int n) {
    auto plan = std::make_shared<RealFft::Plan>();
    const int m = n / 2;
    plan->half = m;
    while ((1 << plan->log2Half) < m) ++plan->log2Half;
    plan->reverse.resize(m);
    for (int i = 0; i < m; ++i) {
        int r = 0;
        for (int b = 0; b < plan->log2Half; ++b)
            if (i & (1 << b)) r |= 1 << (plan->log2Half - 1 - b);
        plan->reverse[i] = r;
    }
    plan->twRe.assign(std::max(m, 2), 0.0);
    plan->twIm.assign(std::max(m, 2), 0.0);
    for (int h = 1; h < m; h *= 2) {
        for (int j = 0; j < h; ++j) {
            const double a = -std::numbers::pi * j / h;
            plan->twRe[h + j] = std::cos(a);
            plan->twIm[h + j] = std::sin(a);
        }
    }
    plan->unRe.resize(m / 2 + 1);
    plan->unIm.resize(m / 2 + 1);
    for (int k = 0; k <= m / 2; ++k) {
        const double a = -2.0 * std::numbers::pi * k / n;
        plan->unRe[k] = std::cos(a);
        plan->unIm[k] = std::sin(a);
    }
    return plan;
}

// Plans are built once per size, from any thread.
std::shared_ptr<const RealFft::Plan> PlanFor(int n) {
    static std::mutex lock;
    static std::shared_ptr<const RealFft::Plan> plans[17];
    int p = 0;
    while ((1 << p) < n) ++p;
    std::lock_guard guard(lock);
    if (!plans[p]) plans[p] = BuildPlan(n);
    return plans[p];
}

// The AVX2 loops do the same arithmetic as the plain ones in the same
// order (no fused multiply-add), so both give the same numbers.
// z[j] = x[2j] + i x[2j+1] (times the window when there is one), gathered
// in bit-reversed order, and the first two stages, whose twiddles are 1 and
// -i. Block b of four takes z[r], z[r + M/2], z[r + M/4], z[r + 3M/4] with
// r = rev[b] (and b = rev[r]).
void FirstStages(const RealFft::Plan& plan, const double* in, const double* window, double* re,
                 double* im) {
    const int m = plan.half, q = m / 4;
    const int* rev = plan.reverse.data();
    for (int r = 0; r < q; ++r) {
        double zr[4], zi[4];
        const int at[4] = {r, r + 2 * q, r + q, r + 3 * q};
        for (int i = 0; i < 4; ++i) {
            zr[i] = in[2 * at[i]];
            zi[i] = in[2 * at[i] + 1];
            if (window != nullptr) {
                zr[i] = zr[i] * window[2 * at[i]];
                zi[i] = zi[i] * window[2 * at[i] + 1];
            }
        }
        const double r0 = zr[0] + zr[1], i0 = zi[0] + zi[1];
        const double r1 = zr[0] - zr[1], i1 = zi[0] - zi[1];
        const double r2 = zr[2] + zr[3], i2 = zi[2] + zi[3];
        const double r3 = zr[2] - zr[3], i3 = zi[2] - zi[3];
        const int b = rev[r];
        re[b] = r0 + r2;
        im[b] = i0 + i2;
        re[b + 2] = r0 - r2;
        im[b + 2] = i0 - i2;
        // -i (r3 + i i3) = i3 - i r3
        re[b + 1] = r1 + i3;
        im[b + 1] = i1 - r3;
        re[b + 3] = r1 - i3;
        im[b + 3] = i1 + r3;
    }
}

// Stages h and 2h over blocks of 4h: (0,1) and (2,3) with exp(-i pi j / h),
// then (0,2) with w = exp(-i pi j / 2h) and (1,3) with -i w.
void FusedStages(const RealFft::Plan& plan, double* re, double* im, int h) {
    const int m = plan.half;
    const double* w1r = plan.twRe.data() + h;
    const double* w1i = plan.twIm.data() + h;
    const double* w2r = plan.twRe.data() + 2 * h;
    const double* w2i = plan.twIm.data() + 2 * h;
    for (int b = 0; b < m; b += 4 * h) {
        double* r0 = re + b;
        double* i0 = im + b;
        double* r1 = r0 + h;
        double* i1 = i0 + h;
        double* r2 = r0 + 2 * h;
        double* i2 = i0 + 2 * h;
        double* r3 = r0 + 3 * h;
        double* i3 = i0 + 3 * h;
        for (int j = 0; j < h; ++j) {
            const double t1r = r1[j] * w1r[j] - i1[j] * w1i[j];
            const double t1i = r1[j] * w1i[j] + i1[j] * w1r[j];
            const double t3r = r3[j] * w1r[j] - i3[j] * w1i[j];
            const double t3i = r3[j] * w1i[j] + i3[j] * w1r[j];
            const double a0r = r0[j] + t1r, a0i = i0[j] + t1i;
            const double a1r = r0[j] - t1r, a1i = i0[j] - t1i;
            const double a2r = r2[j] + t3r, a2i = i2[j] + t3i;
            const double a3r = r2[j] - t3r, a3i = i2[j] - t3i;
            const double u2r = a2r * w2r[j] - a2i * w2i[j];
            const double u2i = a2r * w2i[j] + a2i * w2r[j];
            const double v3r = a3r * w2r[j] - a3i * w2i[j];
            const double v3i = a3r * w2i[j] + a3i * w2r[j];
            r0[j] = a0r + u2r;
            i0[j] = a0i + u2i;
            r2[j] = a0r - u2r;
            i2[j] = a0i - u2i;
            // -i (v3r + i v3i) = v3i - i v3r
            r1[j] = a1r + v3i;
            i1[j] = a1i - v3r;
            r3[j] = a1r - v3i;
            i3[j] = a1i + v3r;
        }
    }
}

// The last stage alone (h = M/2) when the stage count is odd.
void LastStage(const RealFft::Plan& plan, double* re, double* im) {
    const int h = plan.half / 2;
    const double* wr = plan.twRe.data() + h;
    const double* wi = plan.twIm.data() + h;
    for (int j = 0; j < h; ++j) {
        const double tr = re[h + j] * wr[j] - im[h + j] * wi[j];
        const double ti = re[h + j] * wi[j] + im[h + j] * wr[j];
        const double xr = re[j], xi = im[j];
        re[j] = xr + tr;
        im[j] = xi + ti;
        re[h + j] = xr - tr;
        im[h + j] = xi - ti;
    }
}

#ifdef VURMA_HAVE_AVX2_PATH
__attribute__((target("avx2"))) void LastStageAvx2(const RealFft::Plan& plan, double* re,
                                                   double* im) {
    const int h = plan.half / 2;
    const double* wr = plan.twRe.data() + h;
    const double* wi = plan.twIm.data() + h;
    for (int j = 0; j < h; j += 4) {
        const __m256d ar = _mm256_loadu_pd(wr + j), ai = _mm256_loadu_pd(wi + j);
        const __m256d yr = _mm256_loadu_pd(re + h + j), yi = _mm256_loadu_pd(im + h + j);
        const __m256d tr = _mm256_sub_pd(_mm256_mul_pd(yr, ar), _mm256_mul_pd(yi, ai));
        const __m256d ti = _mm256_add_pd(_mm256_mul_pd(yr, ai), _mm256_mul_pd(yi, ar));
        const __m256d xr = _mm256_loadu_pd(re + j), xi = _mm256_loadu_pd(im + j);
        _mm256_storeu_pd(re + j, _mm256_add_pd(xr, tr));
        _mm256_storeu_pd(im + j, _mm256_add_pd(xi, ti));
        _mm256_storeu_pd(re + h + j, _mm256_sub_pd(xr, tr));
        _mm256_storeu_pd(im + h + j, _mm256_sub_pd(xi, ti));
    }
}

// z[r .. r+3] as real and imaginary lanes, windowed when there is a window.
__attribute__((target("avx2"))) inline void LoadZ(const double* in, const double* window, int r,
                                                  __m256d* zr, __m256d* zi) {
    __m256d a = _mm256_loadu_pd(in + 2 * r), b = _mm256_loadu_pd(in + 2 * r + 4);
    if (window != nullptr) {
        a = _mm256_mul_pd(a, _mm256_loadu_pd(window + 2 * r));
        b = _mm256_mul_pd(b, _mm256_loadu_pd(window + 2 * r + 4));
    }
    // (a0 a1 a2 a3), (b0 b1 b2 b3) -> (a0 a2 b0 b2), (a1 a3 b1 b3)
    *zr = _mm256_permute4x64_pd(_mm256_unpacklo_pd(a, b), 0xD8);
    *zi = _mm256_permute4x64_pd(_mm256_unpackhi_pd(a, b), 0xD8);
}

// Rows of the 4x4 block (lanes of a..d) stored at out + at[j], j = 0..3.
__attribute__((target("avx2"))) inline void StoreTransposed(__m256d a, __m256d b, __m256d c,
                                                            __m256d d, double* out, const int* at) {
    const __m256d ab0 = _mm256_unpacklo_pd(a, b), ab1 = _mm256_unpackhi_pd(a, b);
    const __m256d cd0 = _mm256_unpacklo_pd(c, d), cd1 = _mm256_unpackhi_pd(c, d);
    _mm256_storeu_pd(out + at[0], _mm256_permute2f128_pd(ab0, cd0, 0x20));
    _mm256_storeu_pd(out + at[1], _mm256_permute2f128_pd(ab1, cd1, 0x20));
    _mm256_storeu_pd(out + at[2], _mm256_permute2f128_pd(ab0, cd0, 0x31));
    _mm256_storeu_pd(out + at[3], _mm256_permute2f128_pd(ab1, cd1, 0x31));
}

// FirstStages for four values of r at a time (M >= 16); the same arithmetic.
__attribute__((target("avx2"))) void FirstStagesAvx2(const RealFft::Plan& plan, const double* in,
                                                     const double* window, double* re, double* im) {
    const int m = plan.half, q = m / 4;
    const int* rev = plan.reverse.data();
    for (int r = 0; r < q; r += 4) {
        __m256d ar, ai, br, bi, cr, ci, dr, di;
        LoadZ(in, window, r, &ar, &ai);
        LoadZ(in, window, r + 2 * q, &br, &bi);
        LoadZ(in, window, r + q, &cr, &ci);
        LoadZ(in, window, r + 3 * q, &dr, &di);
        const __m256d r0 = _mm256_add_pd(ar, br), i0 = _mm256_add_pd(ai, bi);
        const __m256d r1 = _mm256_sub_pd(ar, br), i1 = _mm256_sub_pd(ai, bi);
        const __m256d r2 = _mm256_add_pd(cr, dr), i2 = _mm256_add_pd(ci, di);
        const __m256d r3 = _mm256_sub_pd(cr, dr), i3 = _mm256_sub_pd(ci, di);
        const int at[4] = {rev[r], rev[r + 1], rev[r + 2], rev[r + 3]};
        StoreTransposed(_mm256_add_pd(r0, r2), _mm256_add_pd(r1, i3), _mm256_sub_pd(r0, r2),
                        _mm256_sub_pd(r1, i3), re, at);
        StoreTransposed(_mm256_add_pd(i0, i2), _mm256_sub_pd(i1, r3), _mm256_sub_pd(i0, i2),
                        _mm256_add_pd(i1, r3), im, at);
    }
}

// FusedStages four lanes at a time (h >= 4).
__attribute__((target("avx2"))) void FusedStagesAvx2(const RealFft::Plan& plan, double* re,
                                                     double* im, int h) {
    const int m = plan.half;
    const double* w1r = plan.twRe.data() + h;
    const double* w1i = plan.twIm.data() + h;
    const double* w2r = plan.twRe.data() + 2 * h;
    const double* w2i = plan.twIm.data() + 2 * h;
    for (int b = 0; b < m; b += 4 * h) {
        double* r0 = re + b;
        double* i0 = im + b;
        double* r1 = r0 + h;
        double* i1 = i0 + h;
        double* r2 = r0 + 2 * h;
        double* i2 = i0 + 2 * h;
        double* r3 = r0 + 3 * h;
        double* i3 = i0 + 3 * h;
        for (int j = 0; j < h; j += 4) {
            const __m256d ar = _mm256_loadu_pd(w1r + j), ai = _mm256_loadu_pd(w1i + j);
            const __m256d br = _mm256_loadu_pd(w2r + j), bi = _mm256_loadu_pd(w2i + j);
            const __m256d x1r = _mm256_loadu_pd(r1 + j), x1i = _mm256_loadu_pd(i1 + j);
            const __m256d x3r = _mm256_loadu_pd(r3 + j), x3i = _mm256_loadu_pd(i3 + j);
            const __m256d t1r = _mm256_sub_pd(_mm256_mul_pd(x1r, ar), _mm256_mul_pd(x1i, ai));
            const __m256d t1i = _mm256_add_pd(_mm256_mul_pd(x1r, ai), _mm256_mul_pd(x1i, ar));
            const __m256d t3r = _mm256_sub_pd(_mm256_mul_pd(x3r, ar), _mm256_mul_pd(x3i, ai));
            const __m256d t3i = _mm256_add_pd(_mm256_mul_pd(x3r, ai), _mm256_mul_pd(x3i, ar));
            const __m256d x0r = _mm256_loadu_pd(r0 + j), x0i = _mm256_loadu_pd(i0 + j);
            const __m256d x2r = _mm256_loadu_pd(r2 + j), x2i = _mm256_loadu_pd(i2 + j);
            const __m256d a0r = _mm256_add_pd(x0r, t1r), a0i = _mm256_add_pd(x0i, t1i);
            const __m256d a1r = _mm256_sub_pd(x0r, t1r), a1i = _mm256_sub_pd(x0i, t1i);
            const __m256d a2r = _mm256_add_pd(x2r, t3r), a2i = _mm256_add_pd(x2i, t3i);
            const __m256d a3r = _mm256_sub_pd(x2r, t3r), a3i = _mm256_sub_pd(x2i, t3i);
            const __m256d u2r = _mm256_sub_pd(_mm256_mul_pd(a2r, br), _mm256_mul_pd(a2i, bi));
            const __m256d u2i = _mm256_add_pd(_mm256_mul_pd(a2r, bi), _mm256_mul_pd(a2i, br));
            const __m256d v3r = _mm256_sub_pd(_mm256_mul_pd(a3r, br), _mm256_mul_pd(a3i, bi));
            const __m256d v3i = _mm256_add_pd(_mm256_mul_pd(a3r, bi), _mm256_mul_pd(a3i, br));
            _mm256_storeu_pd(r0 + j, _mm256_add_pd(a0r, u2r));
            _mm256_storeu_pd(i0 + j, _mm256_add_pd(a0i, u2i));
            _mm256_storeu_pd(r2 + j, _mm256_sub_pd(a0r, u2r));
            _mm256_storeu_pd(i2 + j, _mm256_sub_pd(a0i, u2i));
            _mm256_storeu_pd(r1 + j, _mm256_add_pd(a1r, v3i));
            _mm256_storeu_pd(i1 + j, _mm256_sub_pd(a1i, v3r));
            _mm256_storeu_pd(r3 + j, _mm256_sub_pd(a1r, v3i));
            _mm256_storeu_pd(i3 + j, _mm256_add_pd(a1i, v3r));
        }
    }
}

#endif

// X[k] = (Z[k] + Z*[M-k]) / 2 - i W^k (Z[k] - Z*[M-k]) / 2 into out
// (interleaved re, im for k = 0..M).
void Unpack(const RealFft::Plan& plan, const double* re, const double* im, double* out) {
    const int m = plan.half;
    out[0] = re[0] + im[0];
    out[1] = 0.0;
    out[2 * m] = re[0] - im[0];
    out[2 * m + 1] = 0.0;
    for (int k = 1; k <= m / 2; ++k) {
        const int l = m - k;
        const double ar = re[k], ai = im[k], br = re[l], bi = im[l];
        const double er = 0.5 * (ar + br), ei = 0.5 * (ai - bi);
        const double orr = 0.5 * (ar - br), oi = 0.5 * (ai + bi);
        const double wr = plan.unRe[k], wi = plan.unIm[k];
        const double tr = wr * oi + wi * orr;  // t = -i W o
        const double ti = wi * oi - wr * orr;
        out[2 * k] = er + tr;
        out[2 * k + 1] = ei + ti;
        out[2 * l] = er - tr;  // X[l] = conj(e) - conj(t)
        out[2 * l + 1] = ti - ei;
    }
}

// |X[k]|^2 for k = 0..M by the same formula as Unpack.
void UnpackPower(const RealFft::Plan& plan, const double* re, const double* im, double* power,
                 int from) {
    const int m = plan.half;
    if (from == 1) {
        power[0] = (re[0] + im[0]) * (re[0] + im[0]);
        power[m] = (re[0] - im[0]) * (re[0] - im[0]);
    }
    for (int k = from; k <= m / 2; ++k) {
        const int l = m - k;
        const double ar = re[k], ai = im[k], br = re[l], bi = im[l];
        const double er = 0.5 * (ar + br), ei = 0.5 * (ai - bi);
        const double orr = 0.5 * (ar - br), oi = 0.5 * (ai + bi);
        const double wr = plan.unRe[k], wi = plan.unIm[k];
        const double tr = wr * oi + wi * orr;
        const double ti = wi * oi - wr * orr;
        const double xr = er + tr, xi = ei + ti, yr = er - tr, yi = ti - ei;
        power[k] = xr * xr + xi * xi;
        power[l] = yr * yr + yi * yi;
    }
}

#ifdef VURMA_HAVE_AVX2_PATH
// UnpackPower four bins at a time below M/2; the rest by the plain loop.
__attribute__((target("avx2"))) void UnpackPowerAvx2(const RealFft::Plan& plan, const double* re,
                                                     const double* im, double* power) {
    const int m = plan.half;
    const __m256d half = _mm256_set1_pd(0.5);
    int k = 1;
    for (; k + 3 < m / 2; k += 4) {
        const int l = m - k - 3;  // lanes l+3 .. l hold M-k .. M-k-3
        const __m256d ar = _mm256_loadu_pd(re + k), ai = _mm256_loadu_pd(im + k);
        const __m256d br = _mm256_permute4x64_pd(_mm256_loadu_pd(re + l), 0x1B);
        const __m256d bi = _mm256_permute4x64_pd(_mm256_loadu_pd(im + l), 0x1B);
        const __m256d er = _mm256_mul_pd(half, _mm256_add_pd(ar, br));
        const __m256d ei = _mm256_mul_pd(half, _mm256_sub_pd(ai, bi));
        const __m256d orr = _mm256_mul_pd(half, _mm256_sub_pd(ar, br));
        const __m256d oi = _mm256_mul_pd(half, _mm256_add_pd(ai, bi));
        const __m256d wr = _mm256_loadu_pd(plan.unRe.data() + k);
        const __m256d wi = _mm256_loadu_pd(plan.unIm.data() + k);
        const __m256d tr = _mm256_add_pd(_mm256_mul_pd(wr, oi), _mm256_mul_pd(wi, orr));
        const __m256d ti = _mm256_sub_pd(_mm256_mul_pd(wi, oi), _mm256_mul_pd(wr, orr));
        const __m256d xr = _mm256_add_pd(er, tr), xi = _mm256_add_pd(ei, ti);
        const __m256d yr = _mm256_sub_pd(er, tr), yi = _mm256_sub_pd(ti, ei);
        _mm256_storeu_pd(power + k, _mm256_add_pd(_mm256_mul_pd(xr, xr), _mm256_mul_pd(xi, xi)));
        const __m256d py = _mm256_add_pd(_mm256_mul_pd(yr, yr), _mm256_mul_pd(yi, yi));
        _mm256_storeu_pd(power + l, _mm256_permute4x64_pd(py, 0x1B));
    }
    power[0] = (re[0] + im[0]) * (re[0] + im[0]);
    power[m] = (re[0] - im[0]) * (re[0] - im[0]);
    UnpackPower(plan, re, im, power, k);
}
#endif

// Split work arrays of the calling thread, grown to the largest size used.
double* Scratch(int m) {
    thread_local std::vector<double> scratch;
    if (scratch.size() < 2 * static_cast<std::size_t>(m)) scratch.resize(2 * m);
    return scratch.data();
}

}  // namespace

bool IsRealFftSize(int size) {
    return size >= kRealFftMinSize && size <= kRealFftMaxSize && (size & (size - 1)) == 0;
}

RealFft::RealFft(int size) : size_(IsRealFftSize(size) ? size : kRealFftMinSize) {
    plan_ = PlanFor(size_);
}

void RealFft::Transform(const double* in, const double* window, double* re, double* im) const {
    const Plan& plan = *plan_;
#ifdef VURMA_HAVE_AVX2_PATH
    const bool avx2 = UseAvx2();
    if (avx2 && plan.half >= 16) {
        FirstStagesAvx2(plan, in, window, re, im);
    } else {
        FirstStages(plan, in, window, re, im);
    }
#else
    FirstStages(plan, in, window, re, im);
#endif
    int h = 4;
    for (; 4 * h <= plan.half; h *= 4) {
#ifdef VURMA_HAVE_AVX2_PATH
        if (avx2) {
            FusedStagesAvx2(plan, re, im, h);
            continue;
        }
#endif
        FusedStages(plan, re, im, h);
    }
    if (h < plan.half) {
#ifdef VURMA_HAVE_AVX2_PATH
        if (avx2)
            LastStageAvx2(plan, re, im);
        else
#endif
            LastStage(plan, re, im);
    }
}

void RealFft::Forward(const double* in, std::complex<double>* out) const {
    double* re = Scratch(plan_->half);
    double* im = re + plan_->half;
    Transform(in, nullptr, re, im);
    // std::complex is layout-compatible with double[2].
    Unpack(*plan_, re, im, reinterpret_cast<double*>(out));
}

void RealFft::Power(const double* in, std::complex<double>*, double* power,
                    const double* window) const {
    double* re = Scratch(plan_->half);
    double* im = re + plan_->half;
    Transform(in, window, re, im);
#ifdef VURMA_HAVE_AVX2_PATH
    if (UseAvx2()) {
        UnpackPowerAvx2(*plan_, re, im, power);
        return;
    }
#endif
    UnpackPower(*plan_, re, im, power, 1);
}

}  // namespace vurma
