// The main window's growth: every control keeps its template rectangle at
// the template size, and the extra width and height of a larger window move
// or stretch each one by its anchor. Also the window size kept for the next
// start. GUI thread only.
#pragma once

#include <QRect>
#include <QSize>
#include <vector>

class QWidget;

namespace vurma::app {

class GrowingLayout {
  public:
    enum Anchor : unsigned {
        Fixed = 0,
        MoveRight = 1,   // x += extra width
        MoveDown = 2,    // y += extra height
        GrowWidth = 4,   // width += extra width
        GrowHeight = 8,  // height += extra height
    };

    // Records the widget's current geometry as its template rectangle.
    void Add(QWidget* widget, unsigned anchors);
    // Places every widget for a window `extra` larger than the template
    // (negative parts count as 0).
    void Apply(QSize extra) const;
    // The rectangle a widget gets for `extra`.
    static QRect Place(const QRect& templateRect, unsigned anchors, QSize extra);

  private:
    struct Entry {
        QWidget* widget;
        QRect rect;
        unsigned anchors;
    };
    std::vector<Entry> entries_;
};

// The main window's size at its last close (invalid when none was kept) and
// whether it was maximised.
struct StoredWindowSize {
    QSize size;
    bool maximised = false;
};
StoredWindowSize LoadWindowSize();
void SaveWindowSize(const StoredWindowSize& stored);

}  // namespace vurma::app
