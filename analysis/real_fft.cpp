#include "real_fft.h"

#include <cmath>
#include <mutex>
#include <numbers>
#include <vector>

namespace vurma {

// Twiddles of the complex FFT of M = N/2 points, stage by stage (the stage
// with butterflies half h apart reads tw[h .. 2h-1] = exp(-i pi j / h)),
// the bit-reversal swaps, and the unpacking twiddles exp(-2 pi i k / N).
struct RealFft::Plan {
    int half = 0;  // M
    std::vector<double> twRe, twIm;
    std::vector<std::pair<int, int>> swaps;
    std::vector<double> unRe, unIm;  // k = 0..M/2
};

namespace {

std::shared_ptr<const RealFft::Plan> BuildPlan(int n) {
    auto plan = std::make_shared<RealFft::Plan>();
    const int m = n / 2;
    plan->half = m;
    plan->twRe.assign(std::max(m, 2), 0.0);
    plan->twIm.assign(std::max(m, 2), 0.0);
    for (int h = 1; h < m; h *= 2) {
        for (int j = 0; j < h; ++j) {
            const double a = -std::numbers::pi * j / h;
            plan->twRe[h + j] = std::cos(a);
            plan->twIm[h + j] = std::sin(a);
        }
    }
    for (int i = 0, j = 0; i < m; ++i) {
        if (i < j) plan->swaps.emplace_back(i, j);
        int bit = m >> 1;
        while (bit > 0 && (j & bit)) {
            j ^= bit;
            bit >>= 1;
        }
        j |= bit;
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

}  // namespace

bool IsRealFftSize(int size) {
    return size >= kRealFftMinSize && size <= kRealFftMaxSize && (size & (size - 1)) == 0;
}

RealFft::RealFft(int size) : size_(IsRealFftSize(size) ? size : kRealFftMinSize) {
    plan_ = PlanFor(size_);
}

void RealFft::Forward(const double* in, std::complex<double>* out) const {
    const Plan& plan = *plan_;
    const int m = plan.half;
    // z[j] = x[2j] + i x[2j+1]; std::complex is layout-compatible with double[2].
    double* z = reinterpret_cast<double*>(out);
    for (int j = 0; j < 2 * m; ++j) z[j] = in[j];
    for (auto [i, j] : plan.swaps) std::swap(out[i], out[j]);
    for (int h = 1; h < m; h *= 2) {
        const double* wr = plan.twRe.data() + h;
        const double* wi = plan.twIm.data() + h;
        for (int b = 0; b < m; b += 2 * h) {
            double* x = z + 2 * b;
            double* y = z + 2 * (b + h);
            for (int j = 0; j < h; ++j) {
                const double yr = y[2 * j] * wr[j] - y[2 * j + 1] * wi[j];
                const double yi = y[2 * j] * wi[j] + y[2 * j + 1] * wr[j];
                const double xr = x[2 * j], xi = x[2 * j + 1];
                x[2 * j] = xr + yr;
                x[2 * j + 1] = xi + yi;
                y[2 * j] = xr - yr;
                y[2 * j + 1] = xi - yi;
            }
        }
    }
    // Unpack: X[k] = (Z[k] + Z*[M-k]) / 2 - i W^k (Z[k] - Z*[M-k]) / 2.
    const double z0r = z[0], z0i = z[1];
    out[0] = {z0r + z0i, 0.0};
    out[m] = {z0r - z0i, 0.0};
    for (int k = 1; k <= m / 2; ++k) {
        const int l = m - k;
        const double ar = z[2 * k], ai = z[2 * k + 1];
        const double br = z[2 * l], bi = z[2 * l + 1];
        // e = (Z[k] + Z*[l]) / 2, o = (Z[k] - Z*[l]) / 2
        const double er = 0.5 * (ar + br), ei = 0.5 * (ai - bi);
        const double orr = 0.5 * (ar - br), oi = 0.5 * (ai + bi);
        const double wr = plan.unRe[k], wi = plan.unIm[k];
        // t = -i W o
        const double tr = wr * oi + wi * orr;
        const double ti = wi * oi - wr * orr;
        out[k] = {er + tr, ei + ti};
        // X[l] = conj(e) - conj(t) by the same formula at l
        out[l] = {er - tr, ti - ei};
    }
}

void RealFft::Power(const double* in, std::complex<double>* work, double* power) const {
    Forward(in, work);
    const int n = bins();
    for (int k = 0; k < n; ++k)
        power[k] = work[k].real() * work[k].real() + work[k].imag() * work[k].imag();
}

}  // namespace vurma
