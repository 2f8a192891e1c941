// The spectrogram picture: the computed columns in the plot area (one strip
// per channel shown, each named), the time ruler below, a frequency ruler
// per strip on the left, the dBFS legend on the right and an optional
// caption above. Used alike by the window and by the headless export.
#pragma once

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <string>

#include "analysis/ui_text.h"
#include "analysis/window_shape.h"

namespace vurma {
class SpectrogramLevels;
class SpectrogramPlan;
}  // namespace vurma

namespace vurma::display {

// Plot area of a picture of the given size (all strips); one column per
// pixel. A caption takes a line above it.
QRect SpectrogramPlotRect(QSize size, bool caption = false);
// Rows of each of `strips` strips stacked in the plot area, and strip s.
int SpectrogramStripRows(const QRect& plot, int strips);
QRect SpectrogramStripRect(const QRect& plot, int strips, int strip);

struct SpectrogramPicture {
    // Laid out for SpectrogramStripRect (columns x rows of one strip).
    const SpectrogramPlan* plan = nullptr;
    const SpectrogramLevels* levels = nullptr;
    int sampleRate = 44100;
    double topDb = 0;
    double floorDb = -120;
    std::string caption;  // empty: none
    // Shown across the plot when not empty (why nothing is computed); a
    // recording too short for any frame says so by itself.
    QString notice;
};

// "name   1:02.5   44100 Hz   FFT 2048   Hann": what a caption says.
std::string SpectrogramCaption(const std::string& fileName, double seconds, int sampleRate,
                               int fftSize, WindowShape window);

// The words on a picture of a recording too short for any frame.
inline constexpr char kMsgTooShortToDraw[] = UI_TEXT("録音が短すぎて分析できません");

// Colour of plot pixels without a computed level (not yet captured, or past
// the end of the recording).
inline constexpr QRgb kNoLevelColour = 0xFFD8D8D8;

// PNG quality for saved pictures: a quarter of the default's time for files
// a few percent larger.
inline constexpr int kPngQuality = 50;

// Loads the picture's font ahead of the first picture (GUI thread).
void PrepareSpectrogramText();

// Draws the whole picture into `image` (its size decides the layout).
void DrawSpectrogram(QImage& image, const SpectrogramPicture& in);

}  // namespace vurma::display
