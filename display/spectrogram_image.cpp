#include "spectrogram_image.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>
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

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

// A ruler value with as many decimals as the step needs.
QString Number(double value, double step) {
    const int decimals = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
    if (std::fabs(value) < step * 1e-6) value = 0;  // no "-0"
    return QString::number(value, 'f', decimals);
}

void DrawColumns(QImage& image, const QRect& plot, const SpectrogramPicture& in) {
    for (int c = 0; c < plot.width(); ++c) {
        const float* column = c < in.levels->columns() ? in.levels->Column(c) : nullptr;
        for (int r = 0; r < plot.height(); ++r) {
            QRgb rgb = kNoLevelColour;
            if (column != nullptr && r < in.levels->rows() && !std::isnan(column[r]))
                rgb = 0xFF000000u | SpectrogramColour(column[r], in.floorDb, in.topDb);
            reinterpret_cast<QRgb*>(image.scanLine(plot.top() + r))[plot.left() + c] = rgb;
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

void DrawFrequencyRuler(QPainter& p, const QRect& plot, const SpectrogramPicture& in) {
    const QFontMetrics fm(p.font());
    const FrequencyAxis& axis = in.plan->axis();
    std::vector<AxisMark> marks;
    if (axis.log) {
        marks = OctaveMarks(axis.minHz(), axis.maxHz);
    } else {
        const double step = RulerStep(axis.maxHz * 28 / std::max(plot.height(), 1));
        for (double hz = 0; hz <= axis.maxHz * (1 + 1e-9); hz += step)
            marks.push_back({hz, FrequencyLabel(hz)});
    }
    for (const AxisMark& mark : marks) {
        const int y =
            plot.top() + std::min(static_cast<int>(axis.YOf(mark.value)), plot.height() - 1);
        p.drawLine(plot.left() - kTick, y, plot.left() - 1, y);
        const QString label = Text(mark.label);
        p.drawText(plot.left() - kTick - 2 - fm.horizontalAdvance(label), y + fm.ascent() / 2 - 1,
                   label);
    }
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
    p.drawText(bar.left(), plot.top() - 6, QStringLiteral("[dB]"));
}

}  // namespace

QRect SpectrogramPlotRect(QSize size) {
    return QRect(kLeft, kTop, std::max(size.width() - kLeft - kRight, 1),
                 std::max(size.height() - kTop - kBottom, 1));
}

void DrawSpectrogram(QImage& image, const SpectrogramPicture& in) {
    if (image.format() != QImage::Format_RGB32) image = image.convertToFormat(QImage::Format_RGB32);
    image.fill(Qt::white);
    const QRect plot = SpectrogramPlotRect(image.size());
    if (in.plan == nullptr || in.levels == nullptr || in.sampleRate <= 0) return;
    DrawColumns(image, plot, in);

    QPainter p(&image);
    QFont font(QStringLiteral("IPAGothic"));
    font.setPixelSize(11);
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawRect(plot.adjusted(-1, -1, 0, 0));
    DrawTimeRuler(p, plot, in);
    DrawFrequencyRuler(p, plot, in);
    DrawLegend(p, plot, in);
    if (!in.notice.isEmpty()) p.drawText(plot, Qt::AlignCenter | Qt::TextWordWrap, in.notice);
}

}  // namespace vurma::display
