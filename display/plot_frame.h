// A sunken frame that shows a finished plot surface; its outer size is set
// by its owner (the window's layout), never by the surface.
#pragma once

#include <QFrame>
#include <QImage>

namespace vurma::display {

// Shows columns 0..W-6 and rows 0..H-6 of a surface at its client origin,
// inside a 2-pixel sunken edge. The picture is replaced in one step, so a
// half-drawn plot is never visible. Mouse input passes through to the parent
// window, which runs the cursor drag itself. GUI thread only.
class PlotFrame : public QFrame {
    Q_OBJECT
  public:
    PlotFrame(int outerWidth, int outerHeight, QWidget* parent = nullptr);

    int outerWidth() const { return outerWidth_; }
    int outerHeight() const { return outerHeight_; }
    // A new outer size: the picture shown is black until the next surface.
    void setOuterSize(int outerWidth, int outerHeight);

    // Copies (0, 0, W-5, H-5) of `surface` and schedules a repaint.
    void setSurface(const QImage& surface);
    // The picture currently shown in the client area, (W-5) x (H-5).
    const QImage& shownImage() const { return shown_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int outerWidth_;
    int outerHeight_;
    QImage shown_;
};

}  // namespace vurma::display
