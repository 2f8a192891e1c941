#include "growing_layout.h"

#include <QSettings>
#include <QWidget>
#include <algorithm>

namespace vurma::app {

namespace {
constexpr char kSizeKey[] = "window/size";
constexpr char kMaximisedKey[] = "window/maximised";

QSettings Settings() { return QSettings(QStringLiteral("vurma"), QStringLiteral("vurma")); }
}  // namespace

void GrowingLayout::Add(QWidget* widget, unsigned anchors) {
    entries_.push_back({widget, widget->geometry(), anchors});
}

QRect GrowingLayout::Place(const QRect& r, unsigned anchors, QSize extra) {
    const int dw = std::max(extra.width(), 0);
    const int dh = std::max(extra.height(), 0);
    return QRect(r.x() + (anchors & MoveRight ? dw : 0), r.y() + (anchors & MoveDown ? dh : 0),
                 r.width() + (anchors & GrowWidth ? dw : 0),
                 r.height() + (anchors & GrowHeight ? dh : 0));
}

void GrowingLayout::Apply(QSize extra) const {
    for (const Entry& e : entries_) {
        if (e.anchors == Fixed) continue;
        const QRect r = Place(e.rect, e.anchors, extra);
        // A widget of fixed size (a plot frame) stays fixed at its new size.
        if (e.widget->minimumSize() == e.widget->maximumSize()) e.widget->setFixedSize(r.size());
        e.widget->setGeometry(r);
    }
}

StoredWindowSize LoadWindowSize() {
    QSettings settings = Settings();
    return {settings.value(QLatin1String(kSizeKey)).toSize(),
            settings.value(QLatin1String(kMaximisedKey), false).toBool()};
}

void SaveWindowSize(const StoredWindowSize& stored) {
    QSettings settings = Settings();
    settings.setValue(QLatin1String(kSizeKey), stored.size);
    settings.setValue(QLatin1String(kMaximisedKey), stored.maximised);
}

}  // namespace vurma::app
