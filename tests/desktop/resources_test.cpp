// The resource bundle: every icon size and both hand cursors load from ":/" with
// the size and transparency the window and the desktop rely on.
#include <gtest/gtest.h>

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
    }
    EXPECT_NE(open, closed);
}

}  // namespace
