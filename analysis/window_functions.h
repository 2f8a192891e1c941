// Window functions applied to a frame before the FFT (periodic form).
#pragma once

namespace vurma {

// Weight of sample n (0..N-1) in a frame of N samples.
using WindowFunction = double (*)(int n, int N);

double WindowRectangular(int n, int N);
double WindowHanning(int n, int N);
double WindowHamming(int n, int N);
double WindowFlatTop(int n, int N);

inline constexpr int kWindowCount = 4;
// Only the first kOfferedWindowCount entries are offered in the window list.
inline constexpr int kOfferedWindowCount = 3;
extern const WindowFunction g_pfnWindow[kWindowCount];
extern const char* const g_strWindowName[kWindowCount];  // "Humming" names Hamming

}  // namespace vurma
