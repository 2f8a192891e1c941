#include "settings.h"

#include <cstdint>
#include <cstdio>

namespace vurma {

namespace {
template <typename... Args>
std::string Format(const char* format, Args... args) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, args...);
    return buffer;
}
}  // namespace

std::string FftSizeLabel(int size) { return Format("%d", size); }

std::string GainLabel(double gain) { return Format("%g", gain); }

std::string TimeScaleLabel(int microseconds) {
    if (microseconds < 1000) return Format("%duS/Div", microseconds);
    if (microseconds < 1000000) return Format("%dmS/Div", static_cast<int>(microseconds * 0.001));
    return Format("%dS/Div", static_cast<int>(microseconds * 0.000001));
}

std::string FreqScaleLabel(double hz) {
    if (hz < 1000) return Format("%gHz/Div", hz);
    return Format("%gKHz/Div", hz * 0.001);
}

FftSizeChange DecideFftSizeChange(int requestedIndex, int nSamples) {
    FftSizeChange change;
    if (requestedIndex < 0 || requestedIndex >= kFftSizeCount ||
        nSamples < g_nFftSize[requestedIndex]) {
        // A refused choice always falls back to the smallest size.
        change.refused = true;
        change.selectedIndex = 0;
    } else {
        change.selectedIndex = requestedIndex;
    }
    change.size = g_nFftSize[change.selectedIndex];
    return change;
}

int RescaleFreqSliderPos(int pos, int newSize, int oldSize) {
    if (oldSize <= 0) return pos;
    const std::int64_t scaled = static_cast<std::int64_t>(newSize) * (pos - 1) / oldSize;
    return static_cast<int>(scaled) + 1;
}

}  // namespace vurma
