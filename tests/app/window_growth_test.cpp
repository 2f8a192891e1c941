// The main window grown past its template size: the plots take the extra
// room (the grid continues, the curve spans the new width, the labels follow)
// and at the template size every pixel is as before; the size is kept for
// the next start.
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTest>

#include "app_test_util.h"
#include "display/plot_frame.h"
#include "widgets.h"

namespace vurma::app::test {
namespace {

constexpr QRgb kGrid = 0xff787878;
constexpr QRgb kGreen = 0xff00ff00;

int CountInRow(const QImage& image, int y, QRgb colour, int from = 0) {
    int n = 0;
    for (int x = from; x < image.width(); ++x) n += image.pixel(x, y) == colour;
    return n;
}

double Number(const QLabel* label) { return label->text().trimmed().toDouble(); }

class GrowthTest : public DialogTest {};

TEST_F(GrowthTest, PlotsTakeTheExtraRoomAndTheTemplateSizeDrawsAsBefore) {
    const std::string path = AddFile("grow.wav");
    TestDialog& d = MakeDialog();
    d.show();
    QCoreApplication::processEvents();
    OpenAndFeed(path, 44100 * 3);
    EndCapture();
    const QSize minimum = d.size();
    EXPECT_EQ(d.minimumSize().expandedTo(d.minimumSizeHint()), minimum);

    const QImage wave0 = d.m_stWave->shownImage();
    const QImage spectrum0 = d.m_stSpectrum->shownImage();
    const QString timeEnd0 = d.m_stTimeEnd->text(), freqEnd0 = d.m_stFreqEnd->text();
    const QRect play0 = d.m_btnPlay->geometry(), video0 = d.m_stVideo->geometry();
    const QRect freqSlider0 = d.m_sliderFreq->geometry(), search0 = d.m_btnSearch->geometry();
    const QSize waveSize0 = d.m_stWave->size(), spectrumSize0 = d.m_stSpectrum->size();
    // The flat trace of the constant signal.
    int traceRow = 0;
    for (int y = 0; y < wave0.height(); ++y) {
        if (CountInRow(wave0, y, kGreen) > CountInRow(wave0, traceRow, kGreen)) traceRow = y;
    }
    ASSERT_GT(CountInRow(wave0, traceRow, kGreen), wave0.width() - 10);

    for (const QSize extra : {QSize(300, 160), QSize(120, 45)}) {
        SCOPED_TRACE(extra.width());
        d.resize(minimum + extra);
        QCoreApplication::processEvents();
        const int dw = extra.width(), dh = extra.height();
        EXPECT_EQ(d.m_stWave->size(), waveSize0 + QSize(dw, 0));
        EXPECT_EQ(d.m_stSpectrum->size(), spectrumSize0 + extra);
        // The right-hand column moves and keeps its size; what lies right of
        // the waveform follows it, what lies below the spectrum moves down.
        EXPECT_EQ(d.m_btnPlay->geometry(), play0.translated(dw, 0));
        EXPECT_EQ(d.m_stVideo->geometry(), video0.translated(dw, 0));
        EXPECT_EQ(d.m_btnSearch->geometry(), search0.translated(dw, 0));
        EXPECT_EQ(d.m_sliderFreq->geometry(),
                  QRect(freqSlider0.x(), freqSlider0.y() + dh, freqSlider0.width() + dw,
                        freqSlider0.height()));

        const QImage wave = d.m_stWave->shownImage();
        ASSERT_EQ(wave.width(), wave0.width() + dw);
        // The time grid continues every 100 pixels, the trace to the right end.
        for (int x = 100; x < wave.width(); x += 100) EXPECT_EQ(wave.pixel(x, 5), kGrid) << x;
        EXPECT_GT(CountInRow(wave, traceRow, kGreen, wave0.width()), dw - 10);
        // Labels show the longer span and the higher frequency reached.
        EXPECT_GT(Number(d.m_stTimeEnd), timeEnd0.toDouble());
        EXPECT_GT(Number(d.m_stFreqEnd), freqEnd0.toDouble());

        const QImage spectrum = d.m_stSpectrum->shownImage();
        ASSERT_EQ(spectrum.size(), spectrum0.size() + extra);
        // Level lines every 20 pixels (10 dB) below the template's lowest.
        for (int y = 220; y < spectrum.height() - 1; y += 20) {
            EXPECT_GT(CountInRow(spectrum, y, kGrid), spectrum.width() / 2) << y;
        }
        // A level label for every 20 dB line that shows.
        int labels = 0;
        for (QLabel* label : d.findChildren<QLabel*>()) {
            const int db = -label->text().toInt();
            if (db < 120 || label->isHidden()) continue;
            ++labels;
            EXPECT_LE(2 * db, spectrum.height()) << db;
            EXPECT_EQ(label->x(), search0.x() + dw);
        }
        EXPECT_EQ(labels, (spectrumSize0.height() + dh - 6) / 40 - 5);
    }

    // Back at the template size: the same pixels and texts as before.
    d.resize(minimum);
    QCoreApplication::processEvents();
    EXPECT_EQ(d.m_stWave->shownImage(), wave0);
    EXPECT_EQ(d.m_stSpectrum->shownImage(), spectrum0);
    EXPECT_EQ(d.m_stTimeEnd->text(), timeEnd0);
    EXPECT_EQ(d.m_stFreqEnd->text(), freqEnd0);
    EXPECT_EQ(d.m_btnPlay->geometry(), play0);
    // It never shrinks below the template.
    d.resize(100, 100);
    QCoreApplication::processEvents();
    EXPECT_EQ(d.size(), minimum);
}

TEST_F(GrowthTest, TheSizeIsKeptForTheNextStart) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(dir_ / "settings"));
    QSize grown;
    {
        TestDialog first(engine);
        first.RestoreWindowSize();  // nothing kept yet: the template size
        first.show();
        QCoreApplication::processEvents();
        grown = first.size() + QSize(90, 70);
        first.resize(grown);
        first.close();
    }
    TestDialog next(engine);
    next.RestoreWindowSize();
    EXPECT_EQ(next.size(), grown);
    // A test window that does not ask keeps the template size.
    TestDialog plain(engine);
    plain.show();
    QCoreApplication::processEvents();
    EXPECT_LT(plain.width(), grown.width());
}

}  // namespace
}  // namespace vurma::app::test
