#include "spectrogram_image.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <string>

#include "analysis/spectrogram.h"
#include "analysis/ui_text.h"
#include "colour_map.h"
#include "rulers.h"

namespace vurma::display {

namespace {

constexpr int kLeft = 60;    // frequency labels
constexpr int kRight = 70;   // legend bar and its labels
constexpr int kTop = 22;     // legend title
constexpr int kBottom = 38;  // time labels and title
constexpr int kTick = 4;
constexpr int kCaption = 18;  // caption line above the legend title
constexpr int kStripGap = 6;  // between channel strips

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

// A ruler value with as many decimals as the step needs.
QString Number(double value, double step) {
    const int decimals = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
    if (std::fabs(value) < step * 1e-6) value = 0;  // no "-0"
    return QString::number(value, 'f', decimals);
}

void DrawColumns(QImage& image, const QRect& plot, const SpectrogramPicture& in) {
    // The colour scale sampled finely once: a lookup per pixel instead of
    // an interpolation (the steps are far below what the eye tells apart).
    constexpr int kSteps = 2048;
    QRgb colours[kSteps + 1];
    for (int i = 0; i <= kSteps; ++i)
        colours[i] = 0xFF000000u | SpectrogramColour(static_cast<double>(i) / kSteps, 0.0, 1.0);
    const double range = in.topDb - in.floorDb;
    const double perDb = range > 0 ? kSteps / range : 0.0;

    const SpectrogramPlan& plan = *in.plan;
    for (int strip = 0; strip < plan.strips(); ++strip) {
        const QRect rect = SpectrogramStripRect(plot, plan.strips(), strip);
        for (int c = 0; c < rect.width(); ++c) {
            const float* column = c < in.levels->columns() ? in.levels->Column(c) : nullptr;
            for (int r = 0; r < rect.height(); ++r) {
                QRgb rgb = kNoLevelColour;
                const int index = strip * plan.rows() + r;
                if (column != nullptr && r < plan.rows() && index < in.levels->rows() &&
                    !std::isnan(column[index])) {
                    const double step = (column[index] - in.floorDb) * perDb;
                    rgb = colours[step > 0 ? std::min(static_cast<int>(step + 0.5), kSteps) : 0];
                }
                reinterpret_cast<QRgb*>(image.scanLine(rect.top() + r))[rect.left() + c] = rgb;
            }
        }
    }
}

void DrawTimeRuler(QPainter& p, const QRect& plot, const SpectrogramPicture& in) {
    const QFontMetrics fm(p.font());
    const SpectrogramPlan& plan = *in.plan;
    const double t0 = plan.FrameAtX(0) / in.sampleRate;
    const double t1 = plan.FrameAtX(plot.width()) / in.sampleRate;
    const double step = RulerStep((t1 - t0) * 70 / std::max(plot.width(), 1));
    for (double t = std::ceil(t0 / step - 1e-9) * step; t <= t1 + step * 1e-9; t += step) {
        const int x = plot.left() + static_cast<int>(std::lround(plan.XOfFrame(t * in.sampleRate)));
        p.drawLine(x, plot.bottom() + 1, x, plot.bottom() + kTick);
        const QString label = Number(t, step);
        p.drawText(x - fm.horizontalAdvance(label) / 2, plot.bottom() + kTick + fm.ascent() + 1,
                   label);
    }
    const QString title = QString::fromStdString(UiText(UI_TEXT("時間 [sec]")));
    p.drawText(plot.center().x() - fm.horizontalAdvance(title) / 2,
               plot.bottom() + kTick + 2 * fm.height() + 1, title);
}

void DrawFrequencyRuler(QPainter& p, const QRect& strip, const FrequencyAxis& plan) {
    const QFontMetrics fm(p.font());
    FrequencyAxis axis = plan;
    axis.rows = strip.height();
    std::vector<AxisMark> marks;
    if (axis.log) {
        marks = OctaveMarks(axis.minHz(), axis.maxHz);
    } else {
        const double step = RulerStep(axis.maxHz * 28 / std::max(strip.height(), 1));
        for (double hz = 0; hz <= axis.maxHz * (1 + 1e-9); hz += step)
            marks.push_back({hz, FrequencyLabel(hz)});
    }
    int lastY = -(1 << 20);  // far above any mark
    for (const AxisMark& mark : marks) {
        const int y =
            strip.top() + std::min(static_cast<int>(axis.YOf(mark.value)), strip.height() - 1);
        if (std::abs(y - lastY) < fm.ascent()) continue;  // no overlapping labels
        lastY = y;
        p.drawLine(strip.left() - kTick, y, strip.left() - 1, y);
        const QString label = Text(mark.label);
        p.drawText(strip.left() - kTick - 2 - fm.horizontalAdvance(label), y + fm.ascent() / 2 - 1,
                   label);
    }
}

// The strip's channel name in its top left corner, readable on any level.
void DrawStripName(QPainter& p, const QRect& strip, const std::string& name) {
    if (name.empty()) return;
    const QFontMetrics fm(p.font());
    const QString text = Text(name);
    const QRect box(strip.left() + 2, strip.top() + 2, fm.horizontalAdvance(text) + 6, fm.height());
    p.fillRect(box, QColor(255, 255, 255, 200));
    p.drawText(box, Qt::AlignCenter, text);
}

void DrawLegend(QPainter& p, const QRect& plot, const SpectrogramPicture& in) {
    const QFontMetrics fm(p.font());
    const QRect bar(plot.right() + 10, plot.top(), 14, plot.height());
    const double range = in.topDb - in.floorDb;
    for (int y = 0; y < bar.height(); ++y) {
        const double db = in.topDb - range * (y + 0.5) / bar.height();
        p.setPen(QColor::fromRgb(SpectrogramColour(db, in.floorDb, in.topDb)));
        p.drawLine(bar.left(), bar.top() + y, bar.right(), bar.top() + y);
    }
    p.setPen(Qt::black);
    p.drawRect(bar.adjusted(-1, -1, 0, 0));
    const double step = RulerStep(range * 24 / std::max(bar.height(), 1));
    for (double db = std::floor(in.topDb / step) * step; db >= in.floorDb - step * 1e-9;
         db -= step) {
        const int y = bar.top() + static_cast<int>((in.topDb - db) / range * (bar.height() - 1));
        p.drawLine(bar.right() + 1, y, bar.right() + kTick, y);
        p.drawText(bar.right() + kTick + 3, y + fm.ascent() / 2 - 1, Number(db, step));
    }
    p.drawText(bar.left(), plot.top() - 6, QStringLiteral("dBFS"));
}

}  // namespace

QRect SpectrogramPlotRect(QSize size, bool caption) {
    const int top = kTop + (caption ? kCaption : 0);
    return QRect(kLeft, top, std::max(size.width() - kLeft - kRight, 1),
                 std::max(size.height() - top - kBottom, 1));
}

int SpectrogramStripRows(const QRect& plot, int strips) {
    strips = std::max(strips, 1);
    return std::max((plot.height() - kStripGap * (strips - 1)) / strips, 1);
}

QRect SpectrogramStripRect(const QRect& plot, int strips, int strip) {
    const int rows = SpectrogramStripRows(plot, strips);
    return QRect(plot.left(), plot.top() + strip * (rows + kStripGap), plot.width(), rows);
}

std::string SpectrogramCaption(const std::string& fileName, double seconds, int sampleRate,
                               int fftSize, WindowShape window) {
    char length[32];
    const long tenths = std::lround(std::max(seconds, 0.0) * 10);
    const long s = tenths / 10;
    if (s >= 3600) {
        std::snprintf(length, sizeof length, "%ld:%02ld:%02ld.%ld", s / 3600, s / 60 % 60, s % 60,
                      tenths % 10);
    } else {
        std::snprintf(length, sizeof length, "%ld:%02ld.%ld", s / 60, s % 60, tenths % 10);
    }
    return fileName + "   " + length + "   " + std::to_string(sampleRate) + " Hz   FFT " +
           std::to_string(fftSize) + "   " + WindowShapeTitle(window);
}

namespace {

QFont PictureFont() {
    QFont font(QStringLiteral("IPAGothic"));
    font.setPixelSize(11);
    return font;
}

}  // namespace

void PrepareSpectrogramText() {
    QImage scratch(16, 16, QImage::Format_RGB32);
    QPainter p(&scratch);
    p.setFont(PictureFont());
    p.drawText(0, 12, QStringLiteral("0kHz"));
}

void DrawSpectrogram(QImage& image, const SpectrogramPicture& in) {
    if (image.format() != QImage::Format_RGB32) image = image.convertToFormat(QImage::Format_RGB32);
    image.fill(Qt::white);
    const QRect plot = SpectrogramPlotRect(image.size(), !in.caption.empty());
    if (in.plan == nullptr || in.levels == nullptr || in.sampleRate <= 0) return;
    DrawColumns(image, plot, in);

    QPainter p(&image);
    const QFont font = PictureFont();
    p.setFont(font);
    p.setPen(Qt::black);
    const SpectrogramPlan& plan = *in.plan;
    for (int strip = 0; strip < plan.strips(); ++strip) {
        const QRect rect = SpectrogramStripRect(plot, plan.strips(), strip);
        p.drawRect(rect.adjusted(-1, -1, 0, 0));
        DrawFrequencyRuler(p, rect, plan.axis());
        DrawStripName(p, rect, StripName(plan.settings(), plan.channels(), strip));
    }
    DrawTimeRuler(p, plot, in);
    DrawLegend(p, plot, in);
    if (!in.caption.empty()) p.drawText(kLeft, kCaption - 4, Text(in.caption));
    QString notice = in.notice;
    if (notice.isEmpty() && plan.tooShort()) notice = Text(UiText(kMsgTooShortToDraw));
    if (!notice.isEmpty()) {
        QFont big = font;
        big.setPixelSize(14);
        p.setFont(big);
        p.drawText(plot, Qt::AlignCenter | Qt::TextWordWrap, notice);
    }
}

}  // namespace vurma::display
