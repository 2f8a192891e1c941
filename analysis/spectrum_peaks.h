// Peaks of a spectrum curve and their notes: local maxima that stand out
// from their surroundings, their frequency and level interpolated between
// bins, named in scientific pitch (A4 = 440 Hz by default, middle C = C4)
// with cents in [-50, +50). Toolkit-free.
#pragma once

#include <string>
#include <vector>

#include "window_shape.h"

namespace vurma {

inline constexpr double kDefaultA4Hz = 440.0;
inline constexpr double kMinA4Hz = 400.0;
inline constexpr double kMaxA4Hz = 480.0;
// How far a peak rises above the higher of the lowest points between it
// and the nearest higher level on either side (within its surroundings).
inline constexpr double kPeakProminenceDb = 6.0;

struct SpectrumPeak {
    double hz = 0;  // interpolated
    double db = 0;  // interpolated level
    int bin = 0;    // the local maximum
};

// The `count` strongest peaks of `db` (bins 0 .. N/2, bin k at k * hzPerBin),
// strongest first. Levels at or below floorDb never make a peak.
// The frequency comes from the parabola through the dB levels of the
// maximum and its two neighbours (a Gaussian fitted to the power); the
// level is the maximum's, corrected by the window's response at that
// distance from the bin (what the bin misses of a tone between bins).
std::vector<SpectrumPeak> FindSpectrumPeaks(const std::vector<double>& db, double hzPerBin,
                                            int count, double floorDb, WindowShape window);

struct Pitch {
    int midi = 0;   // MIDI note number: 69 is A4, 60 is C4
    int cents = 0;  // -50 .. +49
};

// The nearest semitone to hz (> 0) on the scale of a4Hz and the distance in
// whole cents; a note exactly between two is the upper one at -50.
Pitch PitchOf(double hz, double a4Hz);
// "A4", "C#2", "C-1".
std::string NoteName(int midi);
// "+3", "-12", "+0".
std::string CentsText(int cents);
// "A4 +3".
std::string PitchText(const Pitch& pitch);

}  // namespace vurma
