#include "analysis/real_fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "analysis/cpu_dispatch.h"
#include "analysis/window_shape.h"

namespace vurma {
namespace {

TEST(RealFft, MatchesAPlainDftAtEverySize) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    for (int n = kRealFftMinSize; n <= 1024; n *= 2) {
        std::vector<double> x(n);
        for (double& v : x) v = uniform(rng);
        RealFft fft(n);
        std::vector<std::complex<double>> out(fft.bins());
        fft.Forward(x.data(), out.data());
        for (int k = 0; k <= n / 2; ++k) {
            std::complex<double> sum = 0.0;
            for (int j = 0; j < n; ++j)
                sum += x[j] * std::polar(1.0, -2.0 * std::numbers::pi * k * j / n);
            ASSERT_NEAR(out[k].real(), sum.real(), 1e-9 * n) << "n=" << n << " k=" << k;
            ASSERT_NEAR(out[k].imag(), sum.imag(), 1e-9 * n) << "n=" << n << " k=" << k;
        }
    }
}

TEST(RealFft, LargestSizeFindsItsTone) {
    const int n = kRealFftMaxSize;
    std::vector<double> x(n);
    for (int j = 0; j < n; ++j) x[j] = std::cos(2.0 * std::numbers::pi * 1234 * j / n);
    RealFft fft(n);
    std::vector<std::complex<double>> work(fft.bins());
    std::vector<double> power(fft.bins());
    fft.Power(x.data(), work.data(), power.data());
    EXPECT_NEAR(std::sqrt(power[1234]), n / 2.0, 1e-6 * n);
    EXPECT_LT(std::sqrt(power[1235]), 1e-8 * n);
    EXPECT_FALSE(IsRealFftSize(3000));
    EXPECT_FALSE(IsRealFftSize(2 * kRealFftMaxSize));
}

// Power agrees with the transform, and the plain loops give the same numbers
// as the AVX2 ones at sizes with an odd and an even number of stages.
TEST(RealFft, PowerIsTheSameOnBothPaths) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    for (const int n : {16, 32, 256, 2048, 4096, 65536}) {
        std::vector<double> x(n);
        for (double& v : x) v = uniform(rng);
        const RealFft fft(n);
        std::vector<std::complex<double>> out(fft.bins());
        std::vector<double> fast(fft.bins()), plain(fft.bins());
        fft.Forward(x.data(), out.data());
        fft.Power(x.data(), nullptr, fast.data());
        const bool allowed = AllowAvx2(false);
        fft.Power(x.data(), nullptr, plain.data());
        AllowAvx2(allowed);
        for (int k = 0; k < fft.bins(); ++k) {
            ASSERT_NEAR(fast[k], std::norm(out[k]), 1e-9 * n) << "n=" << n << " k=" << k;
            ASSERT_EQ(fast[k], plain[k]) << "n=" << n << " k=" << k;
        }
    }
}

TEST(WindowShape, FullScaleSineOnABinReadsZeroDbfsWithEveryWindow) {
    const int n = 4096;
    std::vector<double> tone(n);
    for (int j = 0; j < n; ++j) tone[j] = std::sin(2.0 * std::numbers::pi * 100 * j / n);
    RealFft fft(n);
    std::vector<std::complex<double>> work(fft.bins());
    std::vector<double> power(fft.bins());
    for (const char* name : {"rectangular", "Hann", "HAMMING", "blackman", "blackman-harris",
                             "flat-top", "Hanning", "Humming"}) {
        const auto shape = ParseWindowShape(name);
        ASSERT_TRUE(shape) << name;
        const std::vector<double> w = MakeWindow(*shape, n);
        std::vector<double> x(n);
        for (int j = 0; j < n; ++j) x[j] = tone[j] * w[j];
        fft.Power(x.data(), work.data(), power.data());
        EXPECT_NEAR(PowerToDbfs(power[100], DbfsPowerScale(w)), 0.0, 1e-9) << name;
    }
    EXPECT_FALSE(ParseWindowShape("triangle"));
    EXPECT_EQ(PowerToDbfs(0.0, 1.0, -150.0), -150.0);
}

}  // namespace
}  // namespace vurma
