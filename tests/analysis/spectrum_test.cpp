// FFT and window numerics, checked against values worked out independently
// (closed forms and a direct DFT), and the fast transform bit for bit against
// the plain one it replaced.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <memory>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

#include "analysis/cpu_dispatch.h"
#include "analysis/fft.h"
#include "analysis/window_functions.h"

namespace vurma {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kNegInf = -std::numeric_limits<double>::infinity();

struct Work {
    double db[kSpectrumSlots];
    double re[kSpectrumSlots];
    double im[kSpectrumSlots];
};

std::vector<double> Tone(int N, double amplitude, int bin, double phase) {
    std::vector<double> x(N);
    for (int n = 0; n < N; ++n) x[n] = amplitude * std::cos(2 * kPi * bin * n / N + phase);
    return x;
}

// The transform as it was first written: one running angle per stage,
// butterflies strided by the span, then bit reversal and the dB loop. Kept
// plain so that the fast version can be held to exactly its arithmetic.
std::vector<double> PlainSpectrum(unsigned p, const std::vector<double>& input) {
    const int N = 1 << p;
    std::vector<double> re(input), im(N, 0.0), db(N / 2 + 1);
    double step = 8 * std::atan(1.0) / N;
    for (unsigned s = 0; s < p; ++s) {
        const int span = N >> s, half = span / 2;
        double angle = 0.0;
        for (int j = 0; j < half; ++j) {
            const double cs = std::cos(angle);
            const double sn = std::sin(angle);
            angle = angle + step;
            for (int x = j; x < N; x += span) {
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
    for (int i = 0, j = 0; i < N - 1; ++i) {
        if (i < j) std::swap(re[i], re[j]), std::swap(im[i], im[j]);
        int m = N / 2;
        for (; m <= j; m /= 2) j -= m;
        j += m;
    }
    for (int k = 0; k <= N / 2; ++k) {
        const double r = re[k] / (N / 2), i = im[k] / (N / 2);
        db[k] = std::log10(2.0) * std::log2(r * r + i * i) * 10;
    }
    return db;
}

// Uniform noise, or 16-bit samples as the conversion delivers them.
std::vector<double> Input(int N, bool pcm16, std::mt19937& rng) {
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::vector<double> x(N);
    for (double& v : x) v = pcm16 ? sample(rng) / 32767.0 : uniform(rng);
    return x;
}

bool SameBits(const double* a, const std::vector<double>& b) {
    return std::memcmp(a, b.data(), b.size() * sizeof(double)) == 0;
}

TEST(SpectrumTest, EqualsThePlainTransformBitForBitOnVectorAndScalarPaths) {
    Work w;
    std::mt19937 rng(11);
    for (bool avx2 : {true, false}) {
        const bool previous = AllowAvx2(avx2);
        for (unsigned p = 9; p <= 12; ++p) {
            for (bool pcm16 : {false, true}) {
                for (int round = 0; round < 20; ++round) {
                    const std::vector<double> x = Input(1 << p, pcm16, rng);
                    ComputeSpectrum(p, x.data(), w.db, w.re, w.im);
                    ASSERT_TRUE(SameBits(w.db, PlainSpectrum(p, x)))
                        << "avx2=" << avx2 << " p=" << p << " pcm16=" << pcm16;
                }
            }
        }
        AllowAvx2(previous);
    }
}

TEST(SpectrumTest, ThreadsComputingAtOnceFromFirstUseGetTheSameSpectra) {
    std::mt19937 rng(3);
    std::vector<std::vector<double>> inputs, expected;
    for (unsigned p = 9; p <= 12; ++p) {
        inputs.push_back(Input(1 << p, false, rng));
        expected.push_back(PlainSpectrum(p, inputs.back()));
    }
    bool same[4] = {};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            auto w = std::make_unique<Work>();
            same[t] = true;
            for (unsigned p = 9; p <= 12; ++p) {
                ComputeSpectrum(p, inputs[p - 9].data(), w->db, w->re, w->im);
                same[t] = same[t] && SameBits(w->db, expected[p - 9]);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (bool s : same) EXPECT_TRUE(s);
}

TEST(SpectrumTest, ToneOnBinReadsItsAmplitudeInDb) {
    Work w;
    for (unsigned p = 9; p <= 12; ++p) {
        const int N = 1 << p;
        for (int bin : {1, 8, N / 4, N / 2 - 1}) {
            for (double amplitude : {1.0, 0.25}) {
                const std::vector<double> x = Tone(N, amplitude, bin, 0.3);
                ComputeSpectrum(p, x.data(), w.db, w.re, w.im);
                SCOPED_TRACE(testing::Message() << "N=" << N << " bin=" << bin);
                EXPECT_NEAR(w.db[bin], 20 * std::log10(amplitude), 1e-9);
                for (int k = 0; k <= N / 2; ++k) {
                    if (k == bin) continue;
                    EXPECT_LT(w.db[k], -200.0) << "k=" << k;
                }
            }
        }
    }
}

TEST(SpectrumTest, DcAndNyquistCarryTwiceTheAmplitudeAndSilenceIsMinusInfinity) {
    Work w;
    std::vector<double> ones(512, 1.0);
    ComputeSpectrum(9, ones.data(), w.db, w.re, w.im);
    EXPECT_NEAR(w.db[0], 6.0206, 1e-4);
    for (int k = 1; k <= 256; ++k) EXPECT_LT(w.db[k], -200.0);

    // The alternating sequence lies on bin N/2, which is written.
    std::vector<double> alternating(1024);
    for (int n = 0; n < 1024; ++n) alternating[n] = (n % 2 ? -0.5 : 0.5);
    ComputeSpectrum(10, alternating.data(), w.db, w.re, w.im);
    EXPECT_NEAR(w.db[512], 0.0, 1e-9);  // 20 log10(2 * 0.5)
    EXPECT_LT(w.db[511], -200.0);

    // Silence reads minus infinity in every bin.
    std::vector<double> zeros(4096, 0.0);
    ComputeSpectrum(12, zeros.data(), w.db, w.re, w.im);
    EXPECT_EQ(std::vector<double>(w.db, w.db + 2049), std::vector<double>(2049, kNegInf));
}

TEST(SpectrumTest, MatchesDirectDftOnNoise) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    Work w;
    for (unsigned p : {9u, 11u}) {
        const int N = 1 << p;
        std::vector<double> x(N);
        for (double& v : x) v = dist(rng);
        ComputeSpectrum(p, x.data(), w.db, w.re, w.im);
        for (int k = 0; k <= N / 2; ++k) {
            std::complex<double> sum = 0;
            for (int n = 0; n < N; ++n) sum += x[n] * std::polar(1.0, -2 * kPi * k * n / N);
            const double expected = 10 * std::log10(std::norm(sum * (2.0 / N)));
            EXPECT_NEAR(w.db[k], expected, 1e-6) << "N=" << N << " k=" << k;
        }
    }
}

TEST(SpectrumTest, SlotsAboveHalfOfSmallerSizeKeepEarlierValues) {
    Work w;
    const std::vector<double> wide = Tone(4096, 1.0, 1000, 0.0);
    ComputeSpectrum(12, wide.data(), w.db, w.re, w.im);
    const std::vector<double> before(w.db, w.db + kSpectrumSlots);

    const std::vector<double> narrow = Tone(512, 0.5, 8, 0.0);
    ComputeSpectrum(9, narrow.data(), w.db, w.re, w.im);
    EXPECT_NEAR(w.db[8], 20 * std::log10(0.5), 1e-9);
    EXPECT_NE(w.db[256], before[256]);
    for (int k = 257; k < kSpectrumSlots; ++k) EXPECT_EQ(w.db[k], before[k]) << k;
}

TEST(WindowTest, HanningIsPeriodicHammingAndRectangularAsDefined) {
    for (int N : {512, 4096}) {
        // Periodic: the last point mirrors n = 1, not n = 0.
        EXPECT_EQ(WindowHanning(0, N), 0.0);
        EXPECT_NEAR(WindowHanning(N - 1, N), 0.5 * (1 - std::cos(2 * kPi / N)), 1e-15);
        EXPECT_NEAR(WindowHamming(N / 4, N), 0.54, 1e-15);
        for (int n : {0, 1, N / 3, N - 1}) EXPECT_EQ(WindowRectangular(n, N), 1.0);
    }
}

TEST(WindowTest, HummingIsHammingAndTheUnofferedFlatTopIsFinite) {
    EXPECT_EQ(g_pfnWindow[2], WindowHamming);
    // Defined at n = 0 (the limit of sin(x)/x) and finite everywhere.
    for (int n = 0; n < 512; ++n) EXPECT_TRUE(std::isfinite(WindowFlatTop(n, 512))) << n;
}

}  // namespace
}  // namespace vurma
