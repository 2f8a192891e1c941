// The resource bundle: every icon size and both hand cursors load from ":/" with
// the size and transparency the window and the desktop rely on.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QString>

namespace {

QImage Load(const QString& path) {
    QImage image(path);
    return image.convertToFormat(QImage::Format_ARGB32);
}

TEST(Resources, IconLoadsAtEverySizeAsARoundedOpaqueSquare) {
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        SCOPED_TRACE(size);
        QImage icon = Load(QStringLiteral(":/icons/vurma-%1.png").arg(size));
        ASSERT_FALSE(icon.isNull());
        EXPECT_EQ(icon.width(), size);
        EXPECT_EQ(icon.height(), size);
        // Rounded corners are transparent; the plot area in the middle is opaque.
        EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0);
        EXPECT_EQ(qAlpha(icon.pixel(size - 1, size - 1)), 0);
        EXPECT_EQ(qAlpha(icon.pixel(size / 2, size / 2)), 255);
    }
}

TEST(Resources, HandCursorsAre32PixelsWithTheHotSpotOnTheHand) {
    const QImage open = Load(QStringLiteral(":/cursors/hand-open.png"));
    const QImage closed = Load(QStringLiteral(":/cursors/hand-closed.png"));
    for (const QImage* hand : {&open, &closed}) {
        ASSERT_FALSE(hand->isNull());
        EXPECT_EQ(hand->size(), QSize(32, 32));
        EXPECT_EQ(qAlpha(hand->pixel(0, 0)), 0);
        EXPECT_EQ(qAlpha(hand->pixel(31, 31)), 0);
        // The pointer acts at (16, 14); that pixel belongs to the drawn hand.
        EXPECT_EQ(qAlpha(hand->pixel(16, 14)), 255);
        int white = 0, black = 0, blue = 0, grey = 0;
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                const QRgb p = hand->pixel(x, y);
                if (qAlpha(p) == 0) continue;
                EXPECT_EQ(qAlpha(p), 255) << "half-transparent pixel at " << x << "," << y;
                const QColor c(p);
                if (c == Qt::white) {
                    ++white;
                } else if (c == Qt::black) {
                    ++black;
                } else if (c.blue() > c.red() + 64 && c.blue() > c.green() + 64) {
                    ++blue;
                } else if (c.red() == c.green() && c.green() == c.blue()) {
                    ++grey;
                }
            }
        }
        EXPECT_GT(white, 100);
        EXPECT_GT(black, 40);
        EXPECT_GT(blue, 40);
        EXPECT_GT(grey, 10);
    }
    EXPECT_NE(open, closed);
}

}  // namespace
