// Drawing of the three panels into off-screen surfaces, and the spectrum
// cursor's arithmetic. Each Draw* call is one complete pass: black fill,
// grid, curve, edge rows, marker, over a surface of the frame's outer size
// W x H; the frame then shows columns 0..W-6 and rows 0..H-6 in one copy.
#pragma once

#include <QImage>
#include <string>

namespace vurma::display {

// Creates a surface of the frame's outer size.
QImage CreatePlotSurface(int outerWidth, int outerHeight);

struct WaveInput {
    const double* samples = nullptr;  // mono samples from samplesFirst on
    int samplesFirst = 0;             // the sample samples[0] stands for
    int nSamples = 0;
    int sampleRate = 44100;
    int startSample = 0;     // m_nStartSample: the analysis frame's start
    int firstDrawn = 0;      // S: sample drawn at x = 0
    int sliderPos = 0;       // P: time slider position, for the labels
    int fftSize = 2048;      // N
    int timeScaleUs = 5000;  // microseconds per division
    double gain = 1.0;
    bool showWindow = false;  // outline the analysis frame
};
struct AxisLabels {
    std::string start;  // left end
    std::string end;    // right end
};
// Waveform pass; returns the texts of the two time labels ("%7.3f" seconds).
AxisLabels DrawWave(QImage& surface, const WaveInput& in);

struct SpectrumInput {
    const double* db = nullptr;  // dB per bin, slots 0..N/2
    int sampleRate = 44100;
    int fftSize = 2048;
    double hzPerDiv = 500;
    int firstBin = 1;  // F: frequency slider position
    bool cursorOn = false;
    int cursorOffset = 100;  // x pixel of the cursor line
    int cursorBin = 1;
};
// Spectrum pass; returns the texts of the two frequency labels ("%d" Hz).
AxisLabels DrawSpectrum(QImage& surface, const SpectrumInput& in);

// Play-state panel: green 10 px bold text at (3, 3) on black.
void DrawStatus(QImage& surface, const std::string& utf8Text);

// Cursor arithmetic (b = rate / N Hz per bin, p = hzPerDiv / 64 Hz per pixel).
// Bin under pixel x: F + trunc(x * p / b), at least 1.
int CursorBinAt(int firstBin, int cursorOffset, double hzPerDiv, int sampleRate, int fftSize);
// True when (x, y) in spectrum-frame coordinates lies in the 13-pixel band
// around the cursor line and 0 <= y < outerHeight.
bool HitTestCursor(bool cursorOn, int cursorOffset, int x, int y, int outerHeight);
// A spin step of `delta` (right arrow = -1): new bin = bin - delta, new
// x = trunc((bin - F) * b / p). Returns false (nothing changes) when x < 0 or
// x > W - 6.
bool SpinCursor(int delta, int firstBin, double hzPerDiv, int sampleRate, int fftSize,
                int outerWidth, int* cursorBin, int* cursorOffset);

}  // namespace vurma::display
