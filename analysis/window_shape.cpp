#include "window_shape.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numbers>

namespace vurma {

namespace {

// Sum of cosines a0 - a1 cos(x) + a2 cos(2x) - ... over x = 2 pi i / n.
std::vector<double> CosineSum(std::initializer_list<double> a, int n) {
    std::vector<double> w(std::max(n, 0));
    for (int i = 0; i < n; ++i) {
        const double x = 2.0 * std::numbers::pi * i / n;
        double v = 0.0, sign = 1.0;
        int k = 0;
        for (double c : a) {
            v += sign * c * std::cos(k * x);
            sign = -sign;
            ++k;
        }
        w[i] = v;
    }
    return w;
}

struct Named {
    const char* name;
    WindowShape shape;
};
constexpr Named kNames[] = {
    {"rectangular", WindowShape::kRectangular},
    {"hann", WindowShape::kHann},
    {"hamming", WindowShape::kHamming},
    {"blackman", WindowShape::kBlackman},
    {"blackman-harris", WindowShape::kBlackmanHarris},
    {"flat-top", WindowShape::kFlatTop},
    {"hanning", WindowShape::kHann},
    {"humming", WindowShape::kHamming},
    {"flattop", WindowShape::kFlatTop},
};

}  // namespace

std::vector<double> MakeWindow(WindowShape shape, int n) {
    switch (shape) {
        case WindowShape::kRectangular:
            return std::vector<double>(std::max(n, 0), 1.0);
        case WindowShape::kHann:
            return CosineSum({0.5, 0.5}, n);
        case WindowShape::kHamming:
            return CosineSum({0.54, 0.46}, n);
        case WindowShape::kBlackman:
            return CosineSum({0.42, 0.5, 0.08}, n);
        case WindowShape::kBlackmanHarris:
            return CosineSum({0.35875, 0.48829, 0.14128, 0.01168}, n);
        case WindowShape::kFlatTop:
            return CosineSum({0.21557895, 0.41663158, 0.277263158, 0.083578947, 0.006947368}, n);
    }
    return {};
}

const char* WindowShapeName(WindowShape shape) {
    for (const Named& entry : kNames)
        if (entry.shape == shape) return entry.name;
    return "";
}

const char* WindowShapeTitle(WindowShape shape) {
    switch (shape) {
        case WindowShape::kRectangular:
            return "Rectangular";
        case WindowShape::kHann:
            return "Hann";
        case WindowShape::kHamming:
            return "Hamming";
        case WindowShape::kBlackman:
            return "Blackman";
        case WindowShape::kBlackmanHarris:
            return "Blackman-Harris";
        case WindowShape::kFlatTop:
            return "Flat top";
    }
    return "";
}

std::optional<WindowShape> ParseWindowShape(std::string_view name) {
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const Named& entry : kNames)
        if (lower == entry.name) return entry.shape;
    return std::nullopt;
}

double DbfsPowerScale(const std::vector<double>& window) {
    double sum = 0.0;
    for (double w : window) sum += w;
    return sum > 0.0 ? 4.0 / (sum * sum) : 0.0;
}

double PowerToDbfs(double power, double scale, double floorDb) {
    const double p = power * scale;
    if (!(p > 0.0)) return floorDb;
    return std::max(10.0 * std::log10(p), floorDb);
}

}  // namespace vurma
