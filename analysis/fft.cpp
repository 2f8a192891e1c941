#include "fft.h"

#include <cmath>

namespace vurma {

void ComputeSpectrum(unsigned p, const double* input, double* db, double* re, double* im) {
    // Sizes beyond the fixed arrays would write out of bounds.
    if (p < 1 || p > 12) return;
    const int N = 1 << p;

    for (int i = 0; i <= N; ++i) {
        re[i] = 0.0;
        im[i] = 0.0;
    }
    for (int i = 0; i < N; ++i) re[i] = input[i];

    // Decimation in frequency. The twiddle angle is accumulated by addition
    // and sine/cosine are evaluated once per group, not once per butterfly.
    double step = 8 * std::atan(1.0) / N;
    for (unsigned s = 0; s < p; ++s) {
        const int span = N >> s;
        const int half = span / 2;
        double angle = 0.0;
        for (int j = 0; j < half; ++j) {
            const double cs = std::cos(angle);
            const double sn = std::sin(angle);
            angle = angle + step;
            for (int b = 0; b < N; b += span) {
                const int x = b + j;
                const int y = x + half;
                const double dr = re[x] - re[y];
                const double di = im[x] - im[y];
                re[x] = re[x] + re[y];
                im[x] = im[x] + im[y];
                re[y] = dr * cs + di * sn;
                im[y] = di * cs - dr * sn;
            }
        }
        step = step * 2;
    }

    // Bit reversal brings the bins into natural order.
    int j = 0;
    for (int i = 0; i < N - 1; ++i) {
        if (i < j) {
            double t = re[i];
            re[i] = re[j];
            re[j] = t;
            t = im[i];
            im[i] = im[j];
            im[j] = t;
        }
        int m = N / 2;
        while (m <= j) {
            j = j - m;
            m = m / 2;
        }
        j = j + m;
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
