#include "display/plots.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QString>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "analysis/analysis_pass.h"

namespace vurma::display {

namespace {

constexpr QRgb kBlack = 0xff000000;
constexpr QRgb kGrid = 0xff787878;    // 120, 120, 120
constexpr QRgb kTrace = 0xff00ff00;   // 0, 255, 0
constexpr QRgb kMarker = 0xffffffff;  // 255, 255, 255

constexpr int kWaveCentre = 50;
constexpr int kWaveBottom = 100;
constexpr int kTimeDiv = 100;  // pixels per time division
constexpr int kTickStep = 10;
constexpr int kFreqDiv = 64;  // pixels per frequency division
constexpr int kLevelStep = 20;

// Direct pixel writer with a current point. A segment covers its start pixel
// and stops one pixel short of its end, so consecutive segments of a polyline
// never paint a shared vertex twice and the polyline's last point stays empty.
class Raster {
  public:
    explicit Raster(QImage& image)
        : bits_(image.bits()),
          bytesPerLine_(image.bytesPerLine()),
          width_(image.width()),
          height_(image.height()) {}

    void SetColor(QRgb color) { color_ = color; }

    // Black fill of (0, 0, w, h), clipped to the image.
    void FillBlack(int w, int h) {
        const int cols = std::clamp(w, 0, width_);
        const int rows = std::clamp(h, 0, height_);
        for (int y = 0; y < rows; ++y) {
            std::fill_n(Row(y), cols, kBlack);
        }
    }

    void MoveTo(int x, int y) {
        curX_ = x;
        curY_ = y;
    }
    void LineTo(int x, int y) {
        Line(curX_, curY_, x, y);
        MoveTo(x, y);
    }
    void Line(int x0, int y0, int x1, int y1) {
        if (y0 == y1) {
            Horizontal(x0, x1, y0);
        } else if (x0 == x1) {
            Vertical(x0, y0, y1);
        } else {
            General(x0, y0, x1, y1);
        }
    }

  private:
    QRgb* Row(int y) { return reinterpret_cast<QRgb*>(bits_ + std::ptrdiff_t(y) * bytesPerLine_); }
    void Plot(int64_t x, int64_t y) {
        if (x >= 0 && x < width_ && y >= 0 && y < height_) {
            Row(int(y))[x] = color_;
        }
    }

    // Pixels x0 .. x1 exclusive, in either direction.
    void Horizontal(int x0, int x1, int y) {
        if (x0 == x1 || y < 0 || y >= height_) return;
        int64_t lo = x0 < x1 ? int64_t(x0) : int64_t(x1) + 1;
        int64_t hi = x0 < x1 ? int64_t(x1) - 1 : int64_t(x0);
        lo = std::max<int64_t>(lo, 0);
        hi = std::min<int64_t>(hi, width_ - 1);
        if (lo <= hi) std::fill(Row(y) + lo, Row(y) + hi + 1, color_);
    }
    void Vertical(int x, int y0, int y1) {
        if (y0 == y1 || x < 0 || x >= width_) return;
        int64_t lo = y0 < y1 ? int64_t(y0) : int64_t(y1) + 1;
        int64_t hi = y0 < y1 ? int64_t(y1) - 1 : int64_t(y0);
        lo = std::max<int64_t>(lo, 0);
        hi = std::min<int64_t>(hi, height_ - 1);
        for (int64_t y = lo; y <= hi; ++y) Row(int(y))[x] = color_;
    }
    // One pixel per step along the major axis, the minor coordinate rounded to
    // the nearest pixel; steps 0 .. n-1, so the end pixel is left out.
    void General(int x0, int y0, int x1, int y1) {
        const int64_t dx = int64_t(x1) - x0;
        const int64_t dy = int64_t(y1) - y0;
        const int64_t ax = std::llabs(dx);
        const int64_t ay = std::llabs(dy);
        const int64_t sx = dx > 0 ? 1 : -1;
        const int64_t sy = dy > 0 ? 1 : -1;
        if (ax >= ay) {
            const auto [first, last] = StepRange(x0, sx, ax, width_);
            for (int64_t t = first; t <= last; ++t) {
                Plot(x0 + sx * t, y0 + sy * ((2 * t * ay + ax) / (2 * ax)));
            }
        } else {
            const auto [first, last] = StepRange(y0, sy, ay, height_);
            for (int64_t t = first; t <= last; ++t) {
                Plot(x0 + sx * ((2 * t * ax + ay) / (2 * ay)), y0 + sy * t);
            }
        }
    }
    // Steps t in 0 .. n-1 whose major coordinate start + step * t lies in 0 .. limit-1.
    static std::pair<int64_t, int64_t> StepRange(int64_t start, int64_t step, int64_t n,
                                                 int64_t limit) {
        int64_t first = 0;
        int64_t last = n - 1;
        if (step > 0) {
            first = std::max(first, -start);
            last = std::min(last, limit - 1 - start);
        } else {
            first = std::max(first, start - (limit - 1));
            last = std::min(last, start);
        }
        return {first, last};
    }

    uchar* bits_;
    qsizetype bytesPerLine_;
    int width_;
    int height_;
    QRgb color_ = kBlack;
    int curX_ = 0;
    int curY_ = 0;
};

void EnsureFormat(QImage& surface) {
    if (surface.format() != QImage::Format_RGB32) {
        surface = surface.convertToFormat(QImage::Format_RGB32);
    }
}

// Truncates toward zero into int range; NaN gives `nanValue`.
int TruncToInt(double v, int nanValue = 0) {
    if (std::isnan(v)) return nanValue;
    return int(std::clamp(std::trunc(v), double(INT_MIN), double(INT_MAX)));
}

// Pixel position of a plot coordinate, kept small enough for the rasteriser.
int ToPixel(double v) {
    constexpr double kFar = 1 << 24;
    return TruncToInt(std::clamp(v, -kFar, kFar));
}

// Row of a clamped amplitude or level; NaN lands on `nanRow`.
int ClampedRow(double y, int bottom, int nanRow) {
    if (std::isnan(y)) return nanRow;
    return int(std::trunc(std::clamp(y, 0.0, double(std::max(bottom, 0)))));
}

QFont PlotFont(int pixelSize) {
    QFont font(QStringLiteral("IPAGothic"));
    font.setPixelSize(pixelSize);
    font.setBold(true);
    font.setFixedPitch(true);
    font.setKerning(false);
    font.setStyleHint(QFont::TypeWriter, QFont::NoAntialias);
    return font;
}

// Text with its top-left corner at (x, y), opaque: the character cells (as
// high as the font's pixel size) are filled black first, so grid lines and
// curves under the text never show.
void DrawOpaqueText(QPainter& painter, int x, int y, const QString& text, QRgb color) {
    if (text.isEmpty()) return;
    const QFontMetrics metrics(painter.font());
    painter.fillRect(QRect(x, y, metrics.horizontalAdvance(text), painter.font().pixelSize()),
                     QColor(kBlack));
    painter.setPen(QColor(color));
    painter.drawText(QPoint(x, y + metrics.ascent()), text);
}

std::string FormatSeconds(double seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%7.3f", seconds);
    return text;
}

std::string FormatHz(double hz) {
    char text[32];
    std::snprintf(text, sizeof text, "%d", TruncToInt(hz));
    return text;
}

}  // namespace

QImage CreatePlotSurface(int outerWidth, int outerHeight) {
    QImage surface(std::max(outerWidth, 1), std::max(outerHeight, 1), QImage::Format_RGB32);
    surface.fill(Qt::black);
    return surface;
}

AxisLabels DrawWave(QImage& surface, const WaveInput& in) {
    EnsureFormat(surface);
    const int W = surface.width();
    const int H = surface.height();
    Raster raster(surface);
    raster.FillBlack(W - 4, H - 4);

    raster.SetColor(kGrid);
    for (int k = 1; kTickStep * k <= W - 5; ++k) {
        const int x = kTickStep * k;
        if (x % kTimeDiv == 0) {
            raster.Line(x, 0, x, H - 4);
        } else {
            raster.Line(x, 40, x, 60);
        }
    }
    raster.Line(0, kWaveCentre, W - 5, kWaveCentre);

    const double rate = in.sampleRate;
    const double s = in.timeScaleUs * rate * 1e-8;  // samples per pixel
    const bool scaleValid = s > 0 && std::isfinite(s);
    if (scaleValid && in.samples != nullptr) {
        // Plotted samples sit on multiples of d counted from the recording's
        // start, so scrolling does not make the trace shimmer.
        const int64_t d = s > 1 ? int64_t(std::min(std::floor(s) + 1, double(INT_MAX))) : 1;
        const int64_t S = in.firstDrawn;
        const int64_t from = std::max<int64_t>(S, 0);
        raster.SetColor(kTrace);
        bool started = false;
        for (int64_t i = (from + d - 1) / d * d; i < in.nSamples; i += d) {
            const double xd = double(i - S) / s;
            if (xd >= W - 4) break;  // trunc(xd) > W-5
            const int x = int(xd);
            const int y =
                ClampedRow(kWaveCentre - in.gain * in.samples[i - in.samplesFirst] * kWaveCentre,
                           kWaveBottom, kWaveCentre);
            if (started) {
                raster.LineTo(x, y);
            } else {
                raster.MoveTo(x, y);
                started = true;
            }
        }
    }

    // Clamped samples vanish under the edge rows instead of showing as flat lines.
    raster.SetColor(kBlack);
    raster.Line(0, 0, W - 5, 0);
    raster.Line(0, kWaveBottom, W - 5, kWaveBottom);

    if (in.showWindow && scaleValid) {
        const double start = double(in.startSample) - in.firstDrawn;
        const int x0 = ToPixel(start / s);
        const int x1 = ToPixel((start + in.fftSize) / s);
        const int r = W - 6;
        const int b = H - 6;
        raster.SetColor(kMarker);
        raster.MoveTo(x0, 0);
        if (x1 > r) {
            raster.LineTo(r, 0);
            raster.MoveTo(r, b);
        } else {
            raster.LineTo(x1, 0);
            raster.LineTo(x1, b);
        }
        raster.LineTo(x0, b);
        raster.LineTo(x0, 0);
    }

    const double startSeconds = in.sliderPos / rate;
    return {FormatSeconds(startSeconds), FormatSeconds((W - 5) * s / rate + startSeconds)};
}

AxisLabels DrawSpectrum(QImage& surface, const SpectrumInput& in) {
    EnsureFormat(surface);
    const int W = surface.width();
    const int H = surface.height();
    const int bottom = H - 5;
    Raster raster(surface);
    raster.FillBlack(W - 4, H - 4);

    raster.SetColor(kGrid);
    for (int y = kLevelStep; y <= bottom; y += kLevelStep) raster.Line(0, y, W - 5, y);
    for (int x = kFreqDiv; x <= W - 5; x += kFreqDiv) raster.Line(x, 0, x, bottom);

    const int N = in.fftSize;
    const int H2 = N / 2;
    const double b = N > 0 ? double(in.sampleRate) / N : 0.0;  // Hz per bin
    const double p = in.hzPerDiv / kFreqDiv;                   // Hz per pixel
    const int F = in.firstBin;
    if (in.db != nullptr && b > 0 && p > 0 && std::isfinite(b / p)) {
        raster.SetColor(kTrace);
        bool started = false;
        for (int64_t i = std::max(F, 0); i <= H2; ++i) {
            const double xd = double(i - F) * b / p;
            if (xd >= W - 4) break;  // trunc(xd) > W-5
            // -inf (a bin of zero power) and NaN go to the bottom row.
            const int y = ClampedRow(in.db[i] * -2.0, bottom, bottom);
            if (started) {
                raster.LineTo(int(xd), y);
            } else {
                raster.MoveTo(int(xd), y);
                started = true;
            }
        }
    }

    raster.SetColor(kBlack);
    raster.Line(0, 0, W - 5, 0);
    raster.Line(0, bottom, W - 5, bottom);

    if (in.cursorOn) {
        raster.SetColor(kMarker);
        if (in.cursorOffset >= 0 && in.cursorOffset < W - 5) {
            raster.Line(in.cursorOffset, 0, in.cursorOffset, bottom);
        }
        const int k = in.cursorBin;
        if (k > 0 && k <= H2 && in.db != nullptr) {
            QPainter painter(&surface);
            painter.setFont(PlotFont(12));
            const std::string peak = FormatPeak(in.db[k], k, N, in.sampleRate);
            const std::string note = FormatNote(k, N, in.sampleRate);
            DrawOpaqueText(painter, W - 130, 3, QString::fromStdString(peak), kMarker);
            DrawOpaqueText(painter, W - 100, 23, QString::fromStdString(note), kMarker);
        }
    }

    const double left = F * b;
    return {FormatHz(left), FormatHz((W - 5) * p + left)};
}

void DrawStatus(QImage& surface, const std::string& utf8Text) {
    EnsureFormat(surface);
    Raster raster(surface);
    raster.FillBlack(surface.width() - 4, surface.height() - 4);
    if (utf8Text.empty()) return;
    QPainter painter(&surface);
    painter.setFont(PlotFont(10));
    DrawOpaqueText(painter, 3, 3, QString::fromStdString(utf8Text), kTrace);
}

int CursorBinAt(int firstBin, int cursorOffset, double hzPerDiv, int sampleRate, int fftSize) {
    const double b = fftSize > 0 ? double(sampleRate) / fftSize : 0.0;
    const double p = hzPerDiv / kFreqDiv;
    if (!(b > 0) || !std::isfinite(p)) return std::max(firstBin, 1);
    const double bin = firstBin + std::trunc(cursorOffset * p / b);
    return TruncToInt(std::max(bin, 1.0), 1);
}

bool HitTestCursor(bool cursorOn, int cursorOffset, int x, int y, int outerHeight) {
    const int64_t dx = int64_t(x) - cursorOffset;
    return cursorOn && dx > -7 && dx < 7 && y >= 0 && y < outerHeight;
}

bool SpinCursor(int delta, int firstBin, double hzPerDiv, int sampleRate, int fftSize,
                int outerWidth, int* cursorBin, int* cursorOffset) {
    const double b = fftSize > 0 ? double(sampleRate) / fftSize : 0.0;
    const double p = hzPerDiv / kFreqDiv;
    if (!(b > 0) || !(p > 0)) return false;
    const int64_t k = int64_t(*cursorBin) - delta;
    if (k < INT_MIN || k > INT_MAX) return false;
    const double x = std::trunc(double(k - firstBin) * b / p);
    if (!(x >= 0) || x > outerWidth - 6) return false;
    *cursorBin = int(k);
    *cursorOffset = int(x);
    return true;
}

}  // namespace vurma::display
