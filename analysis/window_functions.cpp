#include "window_functions.h"

#include <cmath>

#include "ui_text.h"

namespace vurma {

// The argument 2*pi*n/N is formed as atan(1) * n * 8 / N, in that order, so
// every window sees the same rounding.
static double WindowAngle(int n, int N) { return std::atan(1.0) * n * 8 / N; }

double WindowRectangular(int, int) { return 1.0; }

double WindowHanning(int n, int N) { return 0.5 * (1 - std::cos(WindowAngle(n, N))); }

double WindowHamming(int n, int N) { return 0.54 - 0.46 * std::cos(WindowAngle(n, N)); }

double WindowFlatTop(int n, int N) {
    const double hamming = WindowHamming(n, N);
    if (n == 0) return hamming;  // sin(x)/x tends to 1 as x -> 0
    const double x = std::atan(1.0) * n * 16 / N;
    return hamming * (std::sin(x) / x);
}

const WindowFunction g_pfnWindow[kWindowCount] = {WindowRectangular, WindowHanning, WindowHamming,
                                                  WindowFlatTop};
const char* const g_strWindowName[kWindowCount] = {UI_TEXT("Rectangular"), UI_TEXT("Hanning"),
                                                   UI_TEXT("Humming"), "Flat-Top"};

}  // namespace vurma
