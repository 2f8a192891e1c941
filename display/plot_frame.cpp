#include "display/plot_frame.h"

#include <QPainter>
#include <algorithm>
#include <cstring>

namespace vurma::display {

namespace {
constexpr int kEdge = 2;  // width of the sunken edge on every side
}

PlotFrame::PlotFrame(int outerWidth, int outerHeight, QWidget* parent)
    : QFrame(parent),
      outerWidth_(outerWidth),
      outerHeight_(outerHeight),
      shown_(std::max(outerWidth - 5, 1), std::max(outerHeight - 5, 1), QImage::Format_RGB32) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(kEdge);
    setFixedSize(outerWidth, outerHeight);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    shown_.fill(Qt::black);
}

void PlotFrame::setOuterSize(int outerWidth, int outerHeight) {
    if (outerWidth == outerWidth_ && outerHeight == outerHeight_) return;
    outerWidth_ = outerWidth;
    outerHeight_ = outerHeight;
    shown_ =
        QImage(std::max(outerWidth - 5, 1), std::max(outerHeight - 5, 1), QImage::Format_RGB32);
    shown_.fill(Qt::black);
    setFixedSize(outerWidth, outerHeight);
}

void PlotFrame::setSurface(const QImage& surface) {
    // Row by row into the kept image: no allocation per redraw.
    const int w = std::min(shown_.width(), surface.width());
    const int h = std::min(shown_.height(), surface.height());
    if (surface.format() == QImage::Format_RGB32) {
        for (int y = 0; y < h; ++y) {
            std::memcpy(shown_.scanLine(y), surface.constScanLine(y), size_t(w) * 4);
        }
    } else {
        QPainter painter(&shown_);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QPoint(0, 0), surface, QRect(0, 0, w, h));
    }
    update();
}

void PlotFrame::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.drawImage(QPoint(kEdge, kEdge), shown_);
}

}  // namespace vurma::display
