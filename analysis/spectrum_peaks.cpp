#include "spectrum_peaks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace vurma {

namespace {

// Lowest level between bin k and the first bin above db[k] walking by
// `step`, looking at most `reach` bins away.
double LowestBeforeHigher(const std::vector<double>& db, int k, int step, int reach) {
    const int n = static_cast<int>(db.size());
    double lowest = db[k];
    for (int i = k + step, walked = 1; i >= 0 && i < n && walked <= reach; i += step, ++walked) {
        if (db[i] > db[k]) break;
        lowest = std::min(lowest, db[i]);
    }
    return lowest;
}

// Amplitude response of the window to a tone `offset` bins from a bin's
// centre, relative to a tone on it, for offsets 0, 0.01, ... 0.5. A frame
// of 1024 stands for every size: the shape in bins hardly changes with N.
std::vector<double> ScallopTable(WindowShape shape) {
    constexpr int kN = 1024;
    const std::vector<double> w = MakeWindow(shape, kN);
    std::vector<double> table(51);
    double sum = 0;
    for (double v : w) sum += v;
    for (int i = 0; i <= 50; ++i) {
        double re = 0, im = 0;
        for (int n = 0; n < kN; ++n) {
            const double a = -2.0 * std::numbers::pi * (i / 100.0) * n / kN;
            re += w[n] * std::cos(a);
            im += w[n] * std::sin(a);
        }
        table[i] = std::hypot(re, im) / sum;
    }
    return table;
}

}  // namespace

std::vector<SpectrumPeak> FindSpectrumPeaks(const std::vector<double>& db, double hzPerBin,
                                            int count, double floorDb, WindowShape window) {
    std::vector<SpectrumPeak> peaks;
    const int n = static_cast<int>(db.size());
    if (count <= 0 || n < 3) return peaks;
    const std::vector<double> scallop = ScallopTable(window);
    for (int k = 1; k + 1 < n; ++k) {
        const double a = db[k - 1], b = db[k], c = db[k + 1];
        if (!(b > a && b >= c) || b <= floorDb) continue;
        // The surroundings: a little over a semitone either side, at least 8 bins.
        const int reach = std::max(8, k / 12);
        const double base =
            std::max(LowestBeforeHigher(db, k, -1, reach), LowestBeforeHigher(db, k, +1, reach));
        if (b - base < kPeakProminenceDb) continue;
        double offset = 0.0;
        const double curvature = a - 2 * b + c;
        if (a > floorDb && c > floorDb && curvature < 0)
            offset = std::clamp(0.5 * (a - c) / curvature, -0.5, 0.5);
        // The bin read the tone low by the window's response at the offset.
        const double at = std::fabs(offset) * 100;
        const int i = std::min(static_cast<int>(at), 49);
        const double gain = scallop[i] + (scallop[i + 1] - scallop[i]) * (at - i);
        const double level = b - 20 * std::log10(gain);
        peaks.push_back({(k + offset) * hzPerBin, level, k});
    }
    std::sort(peaks.begin(), peaks.end(), [](const SpectrumPeak& x, const SpectrumPeak& y) {
        return x.db != y.db ? x.db > y.db : x.bin < y.bin;
    });
    if (static_cast<int>(peaks.size()) > count) peaks.resize(count);
    return peaks;
}

Pitch PitchOf(double hz, double a4Hz) {
    // Whole cents above C-1 (MIDI 0), rounded once, then split, so that the
    // note and its cents always agree.
    const long total = std::lround(6900.0 + 1200.0 * std::log2(hz / a4Hz));
    const long midi = static_cast<long>(std::floor((total + 50) / 100.0));
    return {static_cast<int>(midi), static_cast<int>(total - 100 * midi)};
}

std::string NoteName(int midi) {
    static const char* const kNames[] = {"C",  "C#", "D",  "D#", "E",  "F",
                                         "F#", "G",  "G#", "A",  "A#", "B"};
    const int octave = static_cast<int>(std::floor(midi / 12.0)) - 1;
    return kNames[midi - 12 * (octave + 1)] + std::to_string(octave);
}

std::string CentsText(int cents) {
    char text[16];
    std::snprintf(text, sizeof text, "%+d", cents);
    return text;
}

std::string PitchText(const Pitch& pitch) {
    return NoteName(pitch.midi) + " " + CentsText(pitch.cents);
}

}  // namespace vurma
