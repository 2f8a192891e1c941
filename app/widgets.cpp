#include "widgets.h"

#include <algorithm>

#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionSlider>
#include <QToolButton>

namespace vurma::app {

CursorSpin::CursorSpin(QWidget* parent)
    : QWidget(parent), left_(new QToolButton(this)), right_(new QToolButton(this)) {
    left_->setArrowType(Qt::LeftArrow);
    right_->setArrowType(Qt::RightArrow);
    left_->setFocusPolicy(Qt::NoFocus);
    right_->setFocusPolicy(Qt::NoFocus);
    setFocusPolicy(Qt::TabFocus);
    connect(left_, &QToolButton::clicked, this, [this] { emit deltaPos(1); });
    connect(right_, &QToolButton::clicked, this, [this] { emit deltaPos(-1); });
}

void TimeSlider::setCaptured(double fraction) {
    if (fraction == captured_) return;
    captured_ = fraction;
    update();
}

void TimeSlider::paintEvent(QPaintEvent*) {
    // Painted as a plain slider, then the band, kept off the handle.
    QPainter painter(this);
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    opt.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
    if (tickPosition() != NoTicks) opt.subControls |= QStyle::SC_SliderTickmarks;
    style()->drawComplexControl(QStyle::CC_Slider, &opt, &painter, this);
    if (captured_ < 0.0) return;
    // A band along the groove from its start to the captured share.
    const QRect groove =
        style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
    const QRect handle =
        style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    const int span = groove.width() - handle.width();
    const int width = static_cast<int>(span * std::min(captured_, 1.0)) + handle.width() / 2;
    QColor colour = palette().color(QPalette::Highlight);
    colour.setAlpha(150);
    painter.setClipRegion(QRegion(rect()) - handle);
    painter.fillRect(QRect(groove.left(), groove.center().y() - 2, width, 5), colour);
}

void CursorSpin::resizeEvent(QResizeEvent*) {
    const int half = width() / 2;
    left_->setGeometry(0, 0, half, height());
    right_->setGeometry(half, 0, width() - half, height());
}

void CursorSpin::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Left) {
        emit deltaPos(1);
    } else if (event->key() == Qt::Key_Right) {
        emit deltaPos(-1);
    } else {
        QWidget::keyPressEvent(event);
    }
}

VideoPanel::VideoPanel(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
}

void VideoPanel::setSource(FrameSource source) {
    source_ = std::move(source);
    picture_ = QImage();
    update();
}

void VideoPanel::poll() {
    if (source_ && source_(&picture_)) update();
}

void VideoPanel::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QRect client = contentsRect();
    painter.fillRect(client, Qt::black);
    if (picture_.isNull()) return;
    const QSize size = picture_.size().scaled(client.size(), Qt::KeepAspectRatio);
    const QRect target(client.x() + (client.width() - size.width()) / 2,
                       client.y() + (client.height() - size.height()) / 2, size.width(),
                       size.height());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, picture_);
}

GroupFrame::GroupFrame(const QString& title, QWidget* parent) : QWidget(parent), title_(title) {}

void GroupFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QFontMetrics metrics(font());
    // The top line runs through the middle of the title's text.
    const int top = metrics.height() / 2;
    const QRect r = rect().adjusted(0, top, -1, -1);
    // Etched: a dark line with a light one just inside it.
    painter.setPen(palette().color(QPalette::Light));
    painter.drawRect(r.translated(1, 1).adjusted(0, 0, -1, -1));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(r.adjusted(0, 0, -1, -1));
    if (title_.isEmpty()) return;
    const int x = 8;
    const QRect text(x, 0, metrics.horizontalAdvance(title_) + 4, metrics.height());
    painter.fillRect(text, palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(text, Qt::AlignCenter, title_);
}

}  // namespace vurma::app
