// Forward transform of real frames for the measuring views (spectrogram,
// span spectrum, report): N = 2^p real samples, 16 <= N <= 65536, through a
// complex FFT of N/2 points and the usual half-length packing. Toolkit-free.
// The main window's readouts keep ComputeSpectrum (fft.h), whose results
// the CSV depends on bit for bit.
#pragma once

#include <complex>
#include <memory>

namespace vurma {

inline constexpr int kRealFftMinSize = 16;
inline constexpr int kRealFftMaxSize = 65536;

class RealFft {
  public:
    // size: a power of two in [kRealFftMinSize, kRealFftMaxSize]. Builds the
    // plan (twiddles, bit reversal); plans of one size are shared.
    explicit RealFft(int size);
    int size() const { return size_; }
    int bins() const { return size_ / 2 + 1; }

    // X[k] = sum_n in[n] exp(-2 pi i k n / N) for k = 0..N/2 into out[0..N/2].
    // Const, with working storage per thread: any number of threads may call
    // it at once with their own buffers.
    void Forward(const double* in, std::complex<double>* out) const;

    // |X[k]|^2 for k = 0..N/2 into power[0..N/2], without forming X; work
    // (bins() entries) is not needed any more and may be null. With a
    // window (N weights), of in[n] * window[n].
    void Power(const double* in, std::complex<double>* work, double* power,
               const double* window = nullptr) const;

    struct Plan;

  private:
    void Transform(const double* in, const double* window, double* re, double* im) const;

    int size_;
    std::shared_ptr<const Plan> plan_;
};

// True for a power of two inside the supported range.
bool IsRealFftSize(int size);

}  // namespace vurma
