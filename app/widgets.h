// Small widgets of the main dialog: the two-arrow cursor stepper, the time
// slider, the video panel and the group frames.
#pragma once

#include <QFrame>
#include <QImage>
#include <QSlider>
#include <QWidget>
#include <functional>

class QToolButton;

namespace vurma::app {

// Horizontal up-down control: one step per arrow click. The right arrow
// proposes delta -1, the left arrow +1.
class CursorSpin : public QWidget {
    Q_OBJECT
  public:
    explicit CursorSpin(QWidget* parent);
    QToolButton* leftArrow() const { return left_; }
    QToolButton* rightArrow() const { return right_; }

  signals:
    void deltaPos(int delta);

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QToolButton* left_;
    QToolButton* right_;
};

// The time slider, which also shades the captured part of its groove while
// a capture runs, as media players shade what is buffered.
class TimeSlider : public QSlider {
  public:
    explicit TimeSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {}
    // Share of the range captured, 0..1; negative: no capture to show.
    void setCaptured(double fraction);
    double captured() const { return captured_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    double captured_ = -1.0;
};

// Sunken frame that shows the latest video picture, scaled to fit.
class VideoPanel : public QFrame {
  public:
    // Returns true and fills the image when a new picture is available.
    using FrameSource = std::function<bool(QImage*)>;

    explicit VideoPanel(QWidget* parent);
    void setSource(FrameSource source);  // empty: no video
    const QImage& picture() const { return picture_; }
    // Takes a waiting picture, if any, and repaints.
    void poll();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    FrameSource source_;
    QImage picture_;
};

// Etched group frame whose title sits on the top line, inside the widget's
// rectangle (QGroupBox puts the frame below the title instead).
class GroupFrame : public QWidget {
  public:
    GroupFrame(const QString& title, QWidget* parent);
    const QString& title() const { return title_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString title_;
};

}  // namespace vurma::app
