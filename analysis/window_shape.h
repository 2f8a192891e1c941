// Window functions of the measuring views (spectrogram, span spectrum,
// report), with the gains that turn a windowed power spectrum into dBFS.
// The main window's four list entries stay in window_functions.h.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vurma {

enum class WindowShape { kRectangular, kHann, kHamming, kBlackman, kBlackmanHarris, kFlatTop };

// Periodic (DFT-even) weights of `n` samples.
std::vector<double> MakeWindow(WindowShape shape, int n);

// The command-line name: "rectangular", "hann", "hamming", "blackman",
// "blackman-harris", "flat-top".
const char* WindowShapeName(WindowShape shape);

// The name shown in lists and captions: "Rectangular", "Hann", "Hamming",
// "Blackman", "Blackman-Harris", "Flat top".
const char* WindowShapeTitle(WindowShape shape);

// Case-insensitive; also "Hanning" (Hann) and "Humming" (Hamming), the
// main window's list texts, and "flattop".
std::optional<WindowShape> ParseWindowShape(std::string_view name);

// Scale that maps |X[k]|^2 of a windowed frame to the power of a sine of
// amplitude 1 at bin k reading 1 (0 dBFS): 4 / (sum of weights)^2.
double DbfsPowerScale(const std::vector<double>& window);

// 10 log10(power * scale), floored at floorDb (silence gives floorDb, not -inf).
double PowerToDbfs(double power, double scale, double floorDb = -300.0);

}  // namespace vurma
