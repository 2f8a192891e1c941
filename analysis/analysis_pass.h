// The analysis pass: window x sample x gain, FFT, peak search, readouts.
#pragma once

#include <string>

#include "fft.h"
#include "ui_text.h"

namespace vurma {

// Spectrum and FFT work arrays, kept between passes (slots above N/2 keep
// the values of an earlier, larger analysis).
struct SpectrumArrays {
    double db[kSpectrumSlots] = {};  // dB per bin
    double re[kSpectrumSlots] = {};
    double im[kSpectrumSlots] = {};
};

// The list selections the pass reads (indexes into the option tables).
struct AnalysisSettings {
    int fftIndex = 2;
    int gainIndex = 3;
    int windowIndex = 2;
};

struct AnalysisResult {
    int peakBin = 1;
    std::string peakText;  // FormatPeak(peak)
    std::string noteText;  // FormatNote(peak)
};

// Analyses the frame samples[start .. start+N-1]. Returns false and touches
// nothing when the frame does not fit (start > nSamples - N). Otherwise
// writes windowed[start .. start+N-1], the spectrum and `result`.
bool Analyze(const double* samples, double* windowed, int nSamples, int start, int sampleRate,
             const AnalysisSettings& settings, SpectrumArrays& spectrum, AnalysisResult* result);

// Strongest bin among 1..N/2 (strictly greater wins, so the earliest of equal
// maxima; levels at or below -1000 dB never win); 1 when none qualifies.
int FindPeakBin(const double* db, int N);

// "%7.2fdB@%5dHz" with the level and trunc(rate * k / N).
std::string FormatPeak(double levelDb, int k, int N, int sampleRate);

// Octave and solfège name of the semitone at or below rate * k / N, right-
// aligned in 13 characters (half-width katakana count one each); empty below
// 64 Hz. UTF-8. `text` maps the octave format and the name to the language
// shown (UiText); without it the Japanese texts, as the CSV holds them.
std::string FormatNote(int k, int N, int sampleRate, TextMap text = nullptr);

extern const double g_dSemitone[13];
extern const char* const g_strNoteName[13];

// Right-aligns text in `width` characters, counting UTF-8 code points.
std::string PadLeftChars(const std::string& text, int width);

}  // namespace vurma
