// The spectrogram picture: the computed columns in the plot area, the time
// ruler below, the frequency ruler on the left and the dB legend on the right.
// Used alike by the window and by the headless export.
#pragma once

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

namespace vurma {
class SpectrogramLevels;
class SpectrogramPlan;
}  // namespace vurma

namespace vurma::display {

// Plot area of a picture of the given size; one column per pixel.
QRect SpectrogramPlotRect(QSize size);

struct SpectrogramPicture {
    const SpectrogramPlan* plan = nullptr;  // laid out for the plot rectangle
    const SpectrogramLevels* levels = nullptr;
    int sampleRate = 44100;
    double topDb = 0;
    double floorDb = -120;
    QString notice;  // shown across the plot when not empty (why nothing is computed)
};

// Colour of plot pixels without a computed level (not yet captured, or past
// the end of the recording).
inline constexpr QRgb kNoLevelColour = 0xFFD8D8D8;

// PNG quality for saved pictures: a quarter of the default's time for files
// a few percent larger.
inline constexpr int kPngQuality = 50;

// Draws the whole picture into `image` (its size decides the layout).
void DrawSpectrogram(QImage& image, const SpectrogramPicture& in);

}  // namespace vurma::display
