// The main window without playback: layout, start-up state, list rules,
// cursor, menu, drop, title, keyboard and the About box.
#include <QAction>
#include <QCheckBox>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include "about_dlg.h"
#include "app_test_util.h"
#include "display/plot_frame.h"
#include "widgets.h"

namespace vurma::app::test {
namespace {

QStringList Items(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
    return items;
}

bool HasGreen(const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) == qRgb(0, 255, 0)) return true;
        }
    }
    return false;
}

using WindowTest = DialogTest;

TEST_F(WindowTest, StartsWithTheDefaults) {
    CAnalyzerDlg& d = MakeDialog();
    d.show();
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Vurma"));
    EXPECT_EQ(d.m_cbTimeScale->count(), 13);
    EXPECT_EQ(d.m_cbGain->count(), 10);
    EXPECT_EQ(d.m_cbFreqScale->count(), 8);
    EXPECT_EQ(d.m_cbSampleCount->count(), 4);
    EXPECT_EQ(Items(d.m_cbWindow),
              (QStringList{"Rectangular", "Hanning", "Humming"}));  // never "Flat-Top"
    EXPECT_EQ(Items(d.m_cbSampleCount), (QStringList{"512", "1024", "2048", "4096"}));
    EXPECT_EQ(d.m_cbTimeScale->currentText(), QStringLiteral("5mS/Div"));
    EXPECT_EQ(d.m_cbGain->currentText(), QStringLiteral("1"));
    EXPECT_EQ(d.m_cbFreqScale->currentText(), QStringLiteral("500Hz/Div"));
    EXPECT_EQ(d.m_cbSampleCount->currentText(), QStringLiteral("2048"));
    EXPECT_EQ(d.m_cbWindow->currentText(), QStringLiteral("Humming"));
    EXPECT_FALSE(d.m_cbWindow->isEditable());
    EXPECT_EQ(d.m_nSampleCountSel, 2048);
    EXPECT_EQ(d.m_sliderVolume->value(), 94);
    EXPECT_EQ(d.m_sliderVolume->maximum(), 100);
    EXPECT_EQ(d.m_sliderTime->maximum(), 32767);
    EXPECT_EQ(d.m_sliderFreq->minimum(), 1);
    EXPECT_EQ(d.m_sliderFreq->maximum(), 2048);
    EXPECT_EQ(d.m_nPlayState, 0);
    EXPECT_EQ(d.m_nSamples, 0);
    EXPECT_EQ(d.m_nCursorOffset, 100);
    EXPECT_FALSE(d.m_spinCursor->isEnabled());
    EXPECT_FALSE(d.m_stNoVideo->isVisible());
    EXPECT_FALSE(d.m_actSaveAs->isEnabled());
    EXPECT_TRUE(d.m_actOpen->isEnabled());
    // Axis labels of the first paint without samples.
    EXPECT_EQ(d.m_stTimeStart->text(), QStringLiteral("  0.000"));
    EXPECT_EQ(d.m_stTimeEnd->text(), QStringLiteral("  0.015"));
    EXPECT_EQ(d.m_stFreqStart->text(), QStringLiteral("21"));
    EXPECT_EQ(d.m_stFreqEnd->text(), QStringLiteral("2021"));
}

TEST_F(WindowTest, ControlsSitAtTheirTemplatePlaces) {
    CAnalyzerDlg& d = MakeDialog();
    EXPECT_EQ(d.m_client->size(), QSize(506, 530));
    EXPECT_EQ(d.m_stWave->geometry(), QRect(11, 11, 305, 105));
    EXPECT_EQ(d.m_stSpectrum->geometry(), QRect(11, 209, 261, 210));
    EXPECT_EQ(d.m_stStatus->geometry(), QRect(339, 215, 144, 23));
    EXPECT_EQ(d.m_btnPlay->geometry(), QRect(338, 140, 36, 32));
    EXPECT_EQ(d.m_sliderTime->geometry(), QRect(11, 134, 305, 33));
    EXPECT_EQ(d.m_spinCursor->geometry(), QRect(213, 479, 53, 29));
}

TEST_F(WindowTest, WithoutAGraphTheWindowKeepsItsTemplate) {
    engine->FailCall("Engine.CreateGraphBuilder", media::E_FAIL);
    CAnalyzerDlg& d = MakeDialog();
    d.show();
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), "DirectShowを初期化できません hr=0x80004005\r\n");
    EXPECT_TRUE(d.windowTitle().isEmpty());
    EXPECT_EQ(d.m_cbGain->count(), 0);
    // Nothing the user can still touch may fail.
    d.m_sliderTime->setValue(5);
    d.OnPlay();
    d.OnRewind();
    d.OnSearch();
    EXPECT_EQ(d.m_nPlayState, 0);
    d.close();
}

TEST_F(WindowTest, FftSizeBeforeAnyFileFallsBackTo512) {
    CAnalyzerDlg& d = MakeDialog();
    d.m_sliderFreq->setValue(101);
    SelectByUser(d.m_cbSampleCount, 3);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "ﾃﾞｰﾀのｻﾝﾌﾟﾙ数が少ないので選択できません。  ");
    EXPECT_EQ(d.m_cbSampleCount->currentIndex(), 0);
    EXPECT_EQ(d.m_nSampleCountSel, 512);
    EXPECT_EQ(d.m_sliderFreq->value(), 26);
    EXPECT_EQ(d.m_sliderFreq->maximum(), 513);
}

TEST_F(WindowTest, FftSizeWithEnoughSamplesRescalesTheFrequencySlider) {
    CAnalyzerDlg& d = MakeDialog();
    OpenAndFeed(AddFile("long.wav"), 44100);
    Complete();
    ASSERT_EQ(d.m_nSamples, 44100);
    d.m_sliderFreq->setValue(101);
    SelectByUser(d.m_cbSampleCount, 3);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(d.m_cbSampleCount->currentIndex(), 3);
    EXPECT_EQ(d.m_sliderFreq->value(), 201);
    EXPECT_EQ(d.m_sliderFreq->maximum(), 4097);
    EXPECT_EQ(d.m_nSampleCountSel, 4096);
}

TEST_F(WindowTest, CursorHitBandDragAndSpin) {
    CAnalyzerDlg& d = MakeDialog();
    d.show();
    const QPoint origin = d.m_stSpectrum->pos() + QPoint(2, 2);
    // Off: no drag can start.
    QTest::mousePress(d.m_client, Qt::LeftButton, {}, origin + QPoint(100, 50));
    EXPECT_EQ(d.m_bDragging, 0);
    QTest::mouseRelease(d.m_client, Qt::LeftButton, {}, origin + QPoint(100, 50));

    QTest::mouseClick(d.m_btnCursor, Qt::LeftButton);
    EXPECT_TRUE(d.m_btnCursor->isChecked());
    EXPECT_TRUE(d.m_spinCursor->isEnabled());

    d.OnLButtonDown(origin + QPoint(107, 50));  // 7 px right: outside the band
    EXPECT_EQ(d.m_bDragging, 0);
    d.OnLButtonDown(origin + QPoint(93, 50));  // 7 px left
    EXPECT_EQ(d.m_bDragging, 0);
    QTest::mousePress(d.m_client, Qt::LeftButton, {}, origin + QPoint(94, 50));  // 6 px left
    EXPECT_EQ(d.m_bDragging, 1);
    // Dragging left past the plot's edge: the offset goes negative, the bin stays >= 1.
    QTest::mouseMove(d.m_client, origin + QPoint(-56, 50));
    d.OnMouseMove(origin + QPoint(-56, 50));
    EXPECT_EQ(d.m_nCursorOffset, -50);
    EXPECT_EQ(d.m_nCursorBin, 1);
    QTest::mouseRelease(d.m_client, Qt::LeftButton, {}, origin + QPoint(-56, 50));
    EXPECT_EQ(d.m_bDragging, 0);

    // Spin: 2.75625 px per bin at 44100 Hz, N 2048, 500 Hz/div.
    d.m_nCursorOffset = 0;
    d.UpdateCursorBin();
    ASSERT_EQ(d.m_nCursorBin, 1);
    QTest::mouseClick(d.m_spinCursor->rightArrow(), Qt::LeftButton);
    EXPECT_EQ(d.m_nCursorBin, 2);
    EXPECT_EQ(d.m_nCursorOffset, 2);
    QTest::mouseClick(d.m_spinCursor->leftArrow(), Qt::LeftButton);
    EXPECT_EQ(d.m_nCursorBin, 1);
    EXPECT_EQ(d.m_nCursorOffset, 0);
    QTest::mouseClick(d.m_spinCursor->leftArrow(), Qt::LeftButton);  // x < 0: ignored
    EXPECT_EQ(d.m_nCursorBin, 1);
    d.m_nCursorBin = 93;  // x 253; one more bin lands at 256 > W-6
    d.OnDeltaPosCursorSpin(-1);
    EXPECT_EQ(d.m_nCursorBin, 93);

    QTest::mouseClick(d.m_btnCursor, Qt::LeftButton);
    EXPECT_FALSE(d.m_spinCursor->isEnabled());
}

TEST_F(WindowTest, MenuHasNoShortcutsAndCtrlODoesNothing) {
    CAnalyzerDlg& d = MakeDialog();
    d.show();
    EXPECT_EQ(d.m_actOpen->text(), QStringLiteral("開く(&O)...\tCtrl+O"));
    EXPECT_TRUE(d.m_actOpen->shortcut().isEmpty());
    EXPECT_TRUE(d.m_actSaveAs->shortcut().isEmpty());
    bool dialogOpened = false;
    QTimer::singleShot(200, [&] {
        if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != &d) {
            dialogOpened = true;
            modal->close();
        }
    });
    QTest::keyClick(&d, Qt::Key_O, Qt::ControlModifier);
    QTest::keyClick(&d, Qt::Key_S, Qt::ControlModifier);
    QTest::qWait(300);
    EXPECT_FALSE(dialogOpened);
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(d.m_nPlayState, 0);
}

TEST_F(WindowTest, TitleFollowsOpenAndFailedOpen) {
    CAnalyzerDlg& d = MakeDialog();
    const std::string first = AddFile("test.wav");
    d.OpenMediaFile(QString::fromStdString(first));
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Vurma - [test.wav]"));
    EXPECT_EQ(d.m_nPlayState, 3);
    EXPECT_TRUE(HasGreen(d.m_stStatus->shownImage()));  // "再生中..."
    const std::string second = AddFile("other.wav");
    d.OpenMediaFile(QString::fromStdString(second));
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Vurma - [other.wav]"));

    d.OpenMediaFile(QStringLiteral("/nowhere/missing.wav"));
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Vurma"));
    EXPECT_EQ(d.m_nPlayState, 0);
    EXPECT_FALSE(HasGreen(d.m_stStatus->shownImage()));  // empty state text
    EXPECT_FALSE(d.m_actSaveAs->isEnabled());
    EXPECT_TRUE(d.m_stPeak->text().isEmpty());
    EXPECT_EQ(d.m_strFilePath, second);
    d.OnPlay();
    d.OnPause();
    d.OnRewind();
    EXPECT_EQ(d.m_nPlayState, 0);
}

TEST_F(WindowTest, ADropOfThreeFilesLoadsTheFirst) {
    CAnalyzerDlg& d = MakeDialog();
    d.show();
    const std::string a = AddFile("a.wav");
    const std::string b = AddFile("b.wav");
    const std::string c = AddFile("c.wav");
    d.OnDropFiles({QUrl::fromLocalFile(QString::fromStdString(a)),
                   QUrl::fromLocalFile(QString::fromStdString(b)),
                   QUrl::fromLocalFile(QString::fromStdString(c))});
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Vurma - [a.wav]"));
    EXPECT_EQ(d.m_strFilePath, a);
    ASSERT_NE(engine->graph(), nullptr);
    EXPECT_EQ(engine->graph()->renderedPath, a);
}

TEST_F(WindowTest, EscapeShutsDownInOrder) {
    CAnalyzerDlg& d = MakeDialog();
    d.show();
    d.OpenMediaFile(QString::fromStdString(AddFile("playing.wav")));
    ASSERT_EQ(d.m_nPlayState, 3);
    engine->ClearCalls();
    QTest::keyClick(&d, Qt::Key_Escape);
    EXPECT_FALSE(d.isVisible());
    EXPECT_TRUE(d.m_bShutDown);
    EXPECT_EQ(d.m_pSamples, nullptr);
    EXPECT_EQ(engine->CallCount("Graph.Stop"), 1);
    EXPECT_EQ(engine->liveGraphs(), 0);
}

TEST_F(WindowTest, EnterWithoutAFocusedButtonShutsDownInOrder) {
    CAnalyzerDlg& d = MakeDialog();
    d.show();
    // On a push button Enter presses the button and the window stays.
    d.m_btnCursor->setFocus();
    QTest::keyClick(d.m_btnCursor, Qt::Key_Return);
    EXPECT_TRUE(d.m_btnCursor->isChecked());
    EXPECT_TRUE(d.isVisible());
    d.m_sliderTime->setFocus();
    QTest::keyClick(d.m_sliderTime, Qt::Key_Return);
    EXPECT_FALSE(d.isVisible());
    EXPECT_TRUE(d.m_bShutDown);
    EXPECT_EQ(engine->liveGraphs(), 0);
}

TEST_F(WindowTest, ExitMenuClosesLikeTheCloseBox) {
    CAnalyzerDlg& d = MakeDialog();
    d.show();
    d.m_actExit->trigger();
    EXPECT_FALSE(d.isVisible());
    EXPECT_TRUE(d.m_bShutDown);
}

TEST_F(WindowTest, AboutBoxShowsNameAndVersion) {
    EnsureApp();
    CAboutDlg about(nullptr);
    EXPECT_EQ(about.m_stName->text(), QStringLiteral("Vurma  0.0.2"));
    EXPECT_FALSE(about.m_stNotice->text().isEmpty());
    EXPECT_FALSE(about.m_stUrl->text().isEmpty());
    EXPECT_EQ(about.size(), QSize(335, 128));
}

// The filter text holds fifteen pairs; all of them are offered, in order.
TEST(FileOpenFilter, OffersEveryPairFirstCoveringEveryExtension) {
    const QStringList filters = FileOpenNameFilters();
    ASSERT_EQ(filters.size(), 15);
    EXPECT_TRUE(filters[0].startsWith(QStringLiteral("すべてのAVﾌｧｲﾙ (*.mpg *.mpe* *.m1v")));
    EXPECT_TRUE(filters[0].endsWith(QStringLiteral("*.wmv *.dat)")));
    EXPECT_EQ(filters[4], QStringLiteral("WAV ｵｰﾃﾞｨｵ (*.wav) (*.wav)"));
    EXPECT_EQ(filters[14], QStringLiteral("すべてのﾌｧｲﾙ (*.*) (*.*)"));
}

}  // namespace
}  // namespace vurma::app::test
