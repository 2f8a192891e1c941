// The main window without playback: start-up state, list rules, cursor,
// menu, drop, title, keyboard and the About box.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QWheelEvent>
#include <functional>

#include "about_dlg.h"
#include "analysis/worker_pool.h"
#include "analyzer_app.h"
#include "app_test_util.h"
#include "display/plot_frame.h"
#include "display/spectrogram_image.h"
#include "media/background.h"
#include "spectrogram_window.h"
#include "test_media.h"
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

// The option lists' labels are checked where they are made; here the window
// offers them and selects the defaults.
TEST_F(WindowTest, StartsWithTheDefaults) {
    TestDialog& d = MakeDialog();
    d.show();
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Vurma"));
    EXPECT_EQ(Items(d.m_cbWindow),
              (QStringList{"Rectangular", "Hanning", "Humming"}));  // never "Flat-Top"
    EXPECT_FALSE(d.m_cbWindow->isEditable());
    const QStringList current = {d.m_cbTimeScale->currentText(), d.m_cbGain->currentText(),
                                 d.m_cbFreqScale->currentText(), d.m_cbSampleCount->currentText(),
                                 d.m_cbWindow->currentText()};
    EXPECT_EQ(current, (QStringList{"5mS/Div", "1", "500Hz/Div", "2048", "Humming"}));
    EXPECT_EQ(d.m_sliderVolume->value(), 94);
    EXPECT_EQ(d.m_sliderFreq->maximum(), 1024);  // the left edge stops at the Nyquist bin
    EXPECT_EQ(State(d), "play 0 graph 0 loaded 0 complete 0 samples 0");
    EXPECT_EQ(d.m_nCursorOffset, 100);
    EXPECT_FALSE(d.m_spinCursor->isEnabled());
    EXPECT_FALSE(d.m_stNoVideo->isVisible());
    for (QPushButton* button : d.findChildren<QPushButton*>())
        EXPECT_FALSE(button->autoDefault() || button->isDefault()) << button->text().toStdString();
    const QSize box = d.m_chkShowWindow->size(), hint = d.m_chkShowWindow->sizeHint();
    EXPECT_TRUE(box.width() >= hint.width() && box.height() >= hint.height());  // not clipped
    // Axis labels of the first paint without samples.
    EXPECT_EQ(d.m_stTimeStart->text(), QStringLiteral("  0.000"));
    EXPECT_EQ(d.m_stTimeEnd->text(), QStringLiteral("  0.015"));
    EXPECT_EQ(d.m_stFreqStart->text(), QStringLiteral("21"));
    EXPECT_EQ(d.m_stFreqEnd->text(), QStringLiteral("2021"));
}

TEST_F(WindowTest, WithoutAGraphTheWindowKeepsItsTemplate) {
    engine->FailCall("Engine.CreateGraphBuilder", media::E_FAIL);
    TestDialog& d = MakeDialog();
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

class PaintSeen : public QObject {
  public:
    bool painted = false;
    bool eventFilter(QObject*, QEvent* event) override {
        painted = painted || event->type() == QEvent::Paint;
        return false;
    }
};

// The program shows its window before the media framework starts; a file
// named on the command line opens once the engine exists.
TEST_F(WindowTest, TheEngineIsMadeAfterTheFirstPaintAndThenTheFileOpens) {
    const std::string path = AddFile("first.wav");
    dlg = std::make_unique<TestDialog>(TestDialog::DeferEngine{});
    PaintSeen seen;
    dlg->installEventFilter(&seen);
    bool paintedFirst = false;
    bool opened = false;
    AttachEngineAfterFirstPaint(
        dlg.get(),
        [&] {
            paintedFirst = seen.painted;
            return engine;
        },
        [&] {
            vurma::test::OpenAndWait(*dlg, QString::fromStdString(path));
            opened = true;
        });
    QCoreApplication::processEvents();
    EXPECT_FALSE(opened);
    dlg->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return opened; }, 5000));
    EXPECT_TRUE(paintedFirst);
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Vurma - [first.wav]"));
    EXPECT_EQ(dlg->m_nPlayState, 3);
    EXPECT_TRUE(reports.empty());
    dlg->removeEventFilter(&seen);
}

// The program's own start: painted first, the engine after. It then shows what
// a window made with its engine shows; without a graph the bare window stays.
TEST_F(WindowTest, TheDeferredStartDrawsWhatTheEngineFirstStartDraws) {
    struct Shown {
        QImage wave, spectrum, status;
        QStringList labels;
    };
    auto shown = [](const TestDialog& d) {
        return Shown{d.m_stWave->shownImage(),
                     d.m_stSpectrum->shownImage(),
                     d.m_stStatus->shownImage(),
                     {d.m_stTimeStart->text(), d.m_stTimeEnd->text(), d.m_stFreqStart->text(),
                      d.m_stFreqEnd->text()}};
    };
    auto deferred = [&](std::shared_ptr<media::IEngine> e) {
        dlg = std::make_unique<TestDialog>(TestDialog::DeferEngine{});
        bool attached = false;
        if (e)
            AttachEngineAfterFirstPaint(
                dlg.get(), [e] { return e; }, [&] { attached = true; });
        dlg->show();
        EXPECT_TRUE(QTest::qWaitFor([&] { return attached || !e; }, 5000));
        QCoreApplication::processEvents();
        return shown(*dlg);
    };
    MakeDialog().show();
    const Shown first = shown(*dlg);
    dlg.reset();
    const Shown bare = deferred(nullptr);
    const Shown later = deferred(engine);
    EXPECT_FALSE(later.wave.isNull());
    EXPECT_TRUE(later.wave == first.wave && later.spectrum == first.spectrum &&
                later.status == first.status);
    EXPECT_EQ(later.labels, first.labels);
    EXPECT_TRUE(reports.empty());

    auto failing = std::make_shared<media::FakeEngine>();
    failing->FailCall("Engine.CreateGraphBuilder", media::E_FAIL);
    const Shown failed = deferred(failing);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), "DirectShowを初期化できません hr=0x80004005\r\n");
    EXPECT_TRUE(failed.wave == bare.wave && failed.spectrum == bare.spectrum &&
                failed.status == bare.status);
    EXPECT_EQ(failed.labels, bare.labels);
}

// A file named relative to the current folder is kept by its absolute path:
// Save As proposes the CSV beside it wherever the dialog has been.
TEST_F(WindowTest, ACommandLineFileIsOpenedByItsAbsolutePath) {
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dir_ / "album")));
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(dir_.path)));
    const QString here = QString::fromStdString(dir_.path);
    EXPECT_EQ(CommandLineFile({"album/a.wav", "b.wav"}), here + "/album/a.wav");
    EXPECT_EQ(CommandLineFile({"--x", "/abs/b.wav"}), QStringLiteral("/abs/b.wav"));
    EXPECT_EQ(CommandLineFile({"--x"}), QString());
    const QString file = CommandLineFile({"album/a.wav"});
    QDir::setCurrent(previous);
    AddFile("album/a.wav");
    TestDialog& d = MakeDialog();
    OpenAndFeed(file.toStdString(), 4096);
    EndCapture();
    QString proposed;
    d.m_chooseSaveFile = [&](const QString& p) {
        proposed = p;
        return QString();
    };
    d.ExportCsv();
    EXPECT_EQ(proposed, here + "/album/a.csv");
}

TEST_F(WindowTest, FftSizeIsRefusedWithoutSamplesAndRescalesTheSliderWithThem) {
    TestDialog& d = MakeDialog();
    d.m_sliderFreq->setValue(101);
    SelectByUser(d.m_cbSampleCount, 3);
    EXPECT_EQ(reports, std::vector<std::string>{"ﾃﾞｰﾀのｻﾝﾌﾟﾙ数が少ないので選択できません。  "});
    EXPECT_EQ(d.m_cbSampleCount->currentIndex(), 0);
    EXPECT_EQ(d.m_nSampleCountSel, 512);
    EXPECT_EQ(d.m_sliderFreq->value(), 26);
    EXPECT_EQ(d.m_sliderFreq->maximum(), 256);

    reports.clear();
    TestDialog& e = MakeDialog();
    OpenAndFeed(AddFile("long.wav"), 44100);
    EndCapture();
    ASSERT_EQ(e.m_nSamples, 44100);
    e.m_sliderFreq->setValue(101);
    SelectByUser(e.m_cbSampleCount, 3);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(e.m_nSampleCountSel, 4096);
    EXPECT_EQ(e.m_sliderFreq->value(), 201);
    EXPECT_EQ(e.m_sliderFreq->maximum(), 2048);
    // A position past the old maximum survives the step up.
    e.m_sliderFreq->setValue(2000);
    SelectByUser(e.m_cbSampleCount, 2);
    SelectByUser(e.m_cbSampleCount, 3);
    EXPECT_EQ(e.m_sliderFreq->value(), 1999);
}

// Browsing a capture: pages of a fifth of the range, steps of one; past the
// last frame that fits, no readouts, no spectrum and nothing to save.
TEST_F(WindowTest, BrowsingPagesAndBlanksFramesThatDoNotFit) {
    TestDialog& d = MakeDialog();
    d.show();
    OpenAndFeed(AddFile("paged.wav", {.duration = 10000000}), 44100);
    EndCapture();
    ASSERT_EQ(d.m_sliderTime->maximum(), 44144);
    d.m_sliderTime->setFocus();
    QTest::keyClick(d.m_sliderTime, Qt::Key_PageUp);
    EXPECT_EQ(d.m_sliderTime->value(), 8828);
    QTest::keyClick(d.m_sliderTime, Qt::Key_Right);
    EXPECT_EQ(d.m_sliderTime->value(), 8829);
    const QString peak = d.m_stPeak->text();
    ASSERT_FALSE(peak.isEmpty());
    ASSERT_TRUE(d.m_actSaveAs->isEnabled());
    d.m_sliderTime->setValue(44100 - 2047);
    EXPECT_TRUE(d.m_stPeak->text().isEmpty());
    EXPECT_TRUE(d.m_stNote->text().isEmpty());
    EXPECT_FALSE(d.m_actSaveAs->isEnabled());
    EXPECT_FALSE(HasGreen(d.m_stSpectrum->shownImage()));
    d.m_sliderTime->setValue(8829);
    EXPECT_EQ(d.m_stPeak->text(), peak);
    EXPECT_TRUE(d.m_actSaveAs->isEnabled());
    EXPECT_TRUE(HasGreen(d.m_stSpectrum->shownImage()));
}

TEST_F(WindowTest, CursorHitBandDragAndSpin) {
    TestDialog& d = MakeDialog();
    d.show();
    // The hit band is checked with the plots; here the drag and spin wiring.
    const QPoint origin = d.m_stSpectrum->pos() + QPoint(2, 2);
    QTest::mouseClick(d.m_btnCursor, Qt::LeftButton);
    EXPECT_TRUE(d.m_spinCursor->isEnabled());
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
    QTest::mouseClick(d.m_spinCursor->rightArrow(), Qt::LeftButton);
    EXPECT_EQ(std::pair(d.m_nCursorBin, d.m_nCursorOffset), std::pair(2, 2));

    QTest::mouseClick(d.m_btnCursor, Qt::LeftButton);
    EXPECT_FALSE(d.m_spinCursor->isEnabled());
}

TEST_F(WindowTest, CtrlOOpensAndCtrlSSavesWhenSaveAsIsEnabled) {
    TestDialog& d = MakeDialog();
    d.show();
    QApplication::setActiveWindow(&d);
    EXPECT_EQ(d.m_actOpen->text(), QStringLiteral("開く(&O)...\tCtrl+O"));
    const std::string path = AddFile("keys.wav");
    int asked = 0;
    d.m_chooseOpenFile = [&] { return QString::fromStdString(path); };
    d.m_chooseSaveFile = [&](const QString&) {
        ++asked;
        return QString();
    };
    QTest::keyClick(&d, Qt::Key_S, Qt::ControlModifier);  // nothing to save yet
    EXPECT_EQ(asked, 0);
    QTest::keyClick(&d, Qt::Key_O, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !d.loadPending(); }, 5000));
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Vurma - [keys.wav]"));
    ASSERT_TRUE(engine->FeedSample(0.0, Pcm16(4096, 2, 1000)));
    EndCapture();
    QTest::keyClick(&d, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(asked, 1);
}

TEST_F(WindowTest, SpectrogramOpensFromTheViewMenuAndGrownRowsHaveNoReadout) {
    TestDialog& d = MakeDialog();
    d.show();
    OpenAndFeed(AddFile("tone.wav"), 132300);  // 3 s, the whole file
    EndCapture();
    QMenu* view = d.m_menuBar->findChildren<QMenu*>().at(1);
    ASSERT_EQ(view->title(), QStringLiteral("表示(&V)"));
    view->actions().at(0)->trigger();
    ASSERT_NE(d.spectrogram(), nullptr);
    EXPECT_TRUE(d.spectrogram()->isVisible());
    QTest::qWait(300);  // the size settles, a tick passes
    EXPECT_EQ(d.spectrogram()->windowTitle(), QStringLiteral("スペクトログラム - [tone.wav]"));
    // A click moving the slider is checked where both views follow the model.
    // Grown, before the picture is laid out anew: the new rows have no readout.
    const QPoint at(d.spectrogram()->PlotRect().center());
    QWidget* area = d.spectrogram()->plot();
    area->resize(area->width(), area->height() + 100);
    const QPoint low(at.x(), d.spectrogram()->PlotRect().bottom());
    QMouseEvent move(QEvent::MouseMove, low, area->mapToGlobal(low), Qt::NoButton, Qt::NoButton,
                     {});
    QApplication::sendEvent(area, &move);
    QLabel* readout = nullptr;
    for (QLabel* label : d.spectrogram()->findChildren<QLabel*>())
        if (label->minimumWidth() == 320) readout = label;
    ASSERT_NE(readout, nullptr);
    EXPECT_EQ(readout->text(), QString());
}

// Wheel notches in and out over one pixel keep its time under it; the
// readout follows each zoom without a mouse move.
TEST_F(WindowTest, SpectrogramZoomKeepsTheTimeUnderThePointer) {
    TestDialog& d = MakeDialog();
    d.show();
    OpenAndFeed(AddFile("long.wav", {.duration = 100000000}), 441000);  // 10 s
    EndCapture();
    d.OnViewSpectrogram();
    SpectrogramWindow& s = *d.spectrogram();
    QTest::qWait(300);
    QWidget* area = s.plot();
    const QRect plot = s.PlotRect();
    int x = plot.left();
    while (s.FrameAtX(x + 1) <= 3 * 44100) ++x;  // the pixel over 3 s
    const double at = s.FrameAtX(x);
    auto wheel = [&](int notches) {
        const QPointF p(x, plot.center().y());
        QWheelEvent e(p, area->mapToGlobal(p), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(area, &e);
    };
    for (const int notch : {1, -1}) {
        for (int i = 0; i < 30; ++i) {
            wheel(notch);
            ASSERT_NEAR(s.FrameAtX(x), at, 1e-3) << notch << " " << i;
        }
        EXPECT_TRUE(s.m_readout->text().startsWith(QString::asprintf("%.3f s", at / 44100)))
            << s.m_readout->text().toStdString();
    }
}

TEST_F(WindowTest, SpectrogramTopAndFloorStayTenDecibelsApart) {
    MakeDialog().OnViewSpectrogram();
    SpectrogramWindow& s = *dlg->spectrogram();
    QSpinBox* top = s.m_spinTop;
    QSpinBox* floor = s.m_spinFloor;
    const struct {
        QSpinBox* box;
        int set, top, floor;
    } steps[] = {{top, -151, -110, -120}, {floor, -100, -110, -120}, {floor, -200, -110, -200},
                 {top, -195, -190, -200}, {top, 0, 0, -200},         {floor, -5, 0, -10}};
    for (const auto& step : steps) {
        step.box->setValue(step.set);
        EXPECT_EQ(std::pair(top->value(), floor->value()), std::pair(step.top, step.floor))
            << step.set;
    }
}

// Nothing to save without a file (none yet, or after a failed open); a
// recording shorter than one FFT frame says so in the picture.
TEST_F(WindowTest, SpectrogramSavesOnlyAPictureOfAFileAndNamesATooShortOne) {
    TestDialog& d = MakeDialog();
    d.show();
    d.OnViewSpectrogram();
    SpectrogramWindow& s = *d.spectrogram();
    int asked = 0;
    s.m_chooseSaveFile = [&](const QString&) {
        ++asked;
        return QString::fromStdString(dir_ / "short.png");
    };
    EXPECT_FALSE(s.m_actSave->isEnabled() || s.m_btnSave->isEnabled());
    s.OnSavePng();
    EXPECT_EQ(asked, 0);
    OpenAndFeed(AddFile("short.wav"), 200);  // shorter than the smallest frame, 256
    EndCapture();
    // Laid out anew for its true length once the window sees the capture's end.
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.FftSize() == kSpectrogramMinFft; }, 5000));
    EXPECT_TRUE(s.m_actSave->isEnabled() && s.m_btnSave->isEnabled());
    s.OnSavePng();
    EXPECT_EQ(asked, 1);
    const QImage saved(QString::fromStdString(dir_ / "short.png"));
    ASSERT_FALSE(saved.isNull());
    int dark = 0;  // the notice's letters on the grey of columns without levels
    const QRect plot = display::SpectrogramPlotRect(saved.size());
    for (int y = plot.top(); y <= plot.bottom(); ++y)
        for (int x = plot.left(); x <= plot.right(); ++x) dark += qGray(saved.pixel(x, y)) < 128;
    EXPECT_GT(dark, 20);

    d.OpenMediaFile(QStringLiteral("/nowhere/missing.wav"));
    QTest::qWait(300);
    EXPECT_FALSE(s.m_actSave->isEnabled() || s.m_btnSave->isEnabled());
}

// The spectrogram's own settings: its FFT size does not follow the main
// window's list; every channel gets a named strip; the readout is in dBFS;
// a caption goes above the picture.
TEST_F(WindowTest, SpectrogramHasItsOwnSettingsStripsAndCaption) {
    TestDialog& d = MakeDialog();
    d.show();
    ASSERT_TRUE(vurma::test::OpenAndWait(d, QString::fromStdString(AddFile("left.wav"))));
    std::vector<std::int32_t> samples;  // a 1 kHz tone at -6 dBFS on the left only
    for (const std::int32_t v : vurma::test::Sine(1, 44100, 132300, 1000, 16384)) {
        samples.push_back(v);
        samples.push_back(0);
    }
    ASSERT_TRUE(engine->FeedSample(0.0, vurma::test::Pcm(16, samples)));
    EndCapture();
    d.OnViewSpectrogram();
    SpectrogramWindow& s = *d.spectrogram();
    QTest::qWait(300);
    ASSERT_EQ(s.m_cbChannels->count(), 4);
    EXPECT_EQ(s.m_cbChannels->itemText(2), QStringLiteral("L"));
    d.m_cbSampleCount->setCurrentIndex(0);  // 512 in the main window
    s.m_cbChannels->setCurrentIndex(1);     // every channel
    ASSERT_TRUE(QTest::qWaitFor([&] { return !s.Computing(); }, 5000));
    EXPECT_EQ(s.FftSize(), 2048);

    const QRect plot = s.PlotRect();
    for (const int strip : {0, 1}) {
        const QRect rect = display::SpectrogramStripRect(plot, 2, strip);
        const QPoint at(rect.center().x(),
                        rect.top() + static_cast<int>(rect.height() * (1 - 1000.0 / 22050)));
        QMouseEvent move(QEvent::MouseMove, at, s.plot()->mapToGlobal(at), Qt::NoButton,
                         Qt::NoButton, {});
        QApplication::sendEvent(s.plot(), &move);
        const QString text = s.m_readout->text();
        EXPECT_TRUE(text.startsWith(strip == 0 ? QStringLiteral("L ") : QStringLiteral("R ")))
            << text.toStdString();
        const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const int unit = static_cast<int>(words.indexOf(QStringLiteral("dBFS")));
        ASSERT_GT(unit, 0) << text.toStdString();
        const double level = words.at(unit - 1).toDouble();
        if (strip == 0) {
            EXPECT_NEAR(level, -6.0, 1.5);
        } else {
            EXPECT_EQ(level, kSilenceDb);
        }
    }

    const int top = plot.top();
    s.m_chkCaption->setChecked(true);
    EXPECT_GT(s.PlotRect().top(), top);  // a line above the plot
    s.m_chooseSaveFile = [&](const QString&) { return QString::fromStdString(dir_ / "left.png"); };
    s.OnSavePng();
    const QImage saved(QString::fromStdString(dir_ / "left.png"));
    int ink = 0;  // the caption's letters
    for (int y = 0; y < top; ++y)
        for (int x = 0; x < saved.width() / 2; ++x) ink += qGray(saved.pixel(x, y)) < 128;
    EXPECT_GT(ink, 50);
}

// The columns are computed on the shared pool, only while the window is shown.
TEST_F(WindowTest, AHiddenSpectrogramLeavesThePoolIdle) {
    TestDialog& d = MakeDialog();
    d.show();
    OpenAndFeed(AddFile("long.wav", {.duration = 100000000}), 441000);
    EndCapture();
    d.OnViewSpectrogram();
    SpectrogramWindow& s = *d.spectrogram();
    EXPECT_TRUE(s.Computing() && WorkerPool::Shared().Busy() > 0);  // on the shared pool
    s.close();
    EXPECT_FALSE(s.Computing());
    EXPECT_TRUE(QTest::qWaitFor([] { return WorkerPool::Shared().Busy() == 0; }, 1000));
    OpenAndFeed(AddFile("next.wav", {.duration = 100000000}), 441000);
    EndCapture();
    QTest::qWait(500);  // two ticks of a shown window
    EXPECT_EQ(WorkerPool::Shared().Busy(), 0);
    EXPECT_FALSE(s.Computing());
    d.OnViewSpectrogram();  // shown again: it follows the new file
    EXPECT_TRUE(QTest::qWaitFor([&] { return !s.Computing() && s.m_actSave->isEnabled(); }, 5000));
}

// The title follows each open (a drop loads the first file); a failed open
// leaves the no-file state with every plot redrawn empty at once.
TEST_F(WindowTest, TitleAndPlotsFollowOpenDropAndFailedOpen) {
    TestDialog& d = MakeDialog();
    d.show();
    const QImage wave = d.m_stWave->shownImage(), spectrum = d.m_stSpectrum->shownImage();
    OpenAndFeed(AddFile("test.wav"), 44100, 12000);
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Vurma - [test.wav]"));
    EXPECT_TRUE(HasGreen(d.m_stStatus->shownImage()));  // "再生中..."
    EndCapture();
    d.m_sliderTime->setValue(100);
    ASSERT_NE(d.m_stWave->shownImage(), wave);
    const std::string second = AddFile("other.wav");
    d.OnDropFiles({QUrl::fromLocalFile(QString::fromStdString(second)), QUrl("file:///x.wav")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !d.loadPending(); }, 5000));
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Vurma - [other.wav]"));

    reports.clear();
    rec_.details.clear();
    vurma::test::OpenAndWait(d, QStringLiteral("/nowhere/missing.wav"));
    // The message names the file it is about.
    EXPECT_EQ(reports, std::vector<std::string>{"このﾌｧｲﾙは処理できません。  "});
    EXPECT_EQ(rec_.details, std::vector<std::string>{"/nowhere/missing.wav"});
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Vurma"));
    EXPECT_EQ(State(d), "play 0 graph 0 loaded 0 complete 0 samples 0");
    EXPECT_FALSE(HasGreen(d.m_stStatus->shownImage()));  // empty state text
    EXPECT_TRUE(d.m_stPeak->text().isEmpty());
    EXPECT_EQ(d.m_stWave->shownImage(), wave);
    EXPECT_EQ(d.m_stSpectrum->shownImage(), spectrum);
    EXPECT_EQ(d.m_stTimeStart->text(), QStringLiteral("  0.000"));
    EXPECT_EQ(d.m_strFilePath, second);
    d.OnPlay();
    d.OnPause();
    d.OnRewind();
    EXPECT_EQ(d.m_nPlayState, 0);
}

TEST_F(WindowTest, EscapeEnterAndExitShutDownInOrder) {
    const std::function<void(TestDialog&)> closers[] = {
        [](TestDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); },
        [](TestDialog& d) {
            // On a push button Enter presses the button and the window stays.
            d.m_btnCursor->setFocus();
            QTest::keyClick(d.m_btnCursor, Qt::Key_Return);
            EXPECT_TRUE(d.m_btnCursor->isChecked());
            EXPECT_TRUE(d.isVisible());
            d.m_sliderTime->setFocus();
            QTest::keyClick(d.m_sliderTime, Qt::Key_Return);
        },
        [](TestDialog& d) { d.m_actExit->trigger(); },
    };
    for (const auto& close : closers) {
        TestDialog& d = MakeDialog();
        d.show();
        vurma::test::OpenAndWait(d, QString::fromStdString(AddFile("playing.wav")));
        ASSERT_EQ(d.m_nPlayState, 3);
        engine->ClearCalls();
        close(d);
        EXPECT_FALSE(d.isVisible());
        EXPECT_TRUE(d.m_bShutDown);
        EXPECT_EQ(d.m_samples.data(), nullptr);
        ASSERT_TRUE(media::WaitForDetachedJobs(std::chrono::seconds(5)));
        EXPECT_EQ(engine->CallCount("Graph.Stop"), 1);
        EXPECT_EQ(engine->liveGraphs(), 0);
    }
}

TEST_F(WindowTest, AboutBoxShowsNameAndVersionAndNoPlaceholderAddress) {
    CAboutDlg about(nullptr);
    EXPECT_EQ(about.m_stName->text(), QStringLiteral("Vurma  0.0.2"));
    EXPECT_FALSE(about.m_stUrl->text().contains(QStringLiteral("example.")));
    EXPECT_EQ(about.m_stUrl->isVisibleTo(&about), !about.m_stUrl->text().isEmpty());
}

// The filter text holds fifteen pairs; all of them are offered, in order.
// The first also covers the formats GStreamer decodes beyond the historical
// list, and "all files" matches names without a dot too.
TEST(FileOpenFilter, OffersEveryPairFirstCoveringEveryExtension) {
    const QStringList filters = FileOpenNameFilters();
    ASSERT_EQ(filters.size(), 15);
    EXPECT_TRUE(filters[0].startsWith(QStringLiteral("すべてのAVﾌｧｲﾙ (*.mpg *.mpe* *.m1v")));
    EXPECT_TRUE(filters[0].contains(QStringLiteral("*.wmv *.dat *.flac *.ogg")));
    EXPECT_TRUE(filters[0].contains(QStringLiteral(" *.opus ")));
    EXPECT_EQ(filters[4], QStringLiteral("WAV ｵｰﾃﾞｨｵ (*.wav) (*.wav)"));
    EXPECT_EQ(filters[14], QStringLiteral("すべてのﾌｧｲﾙ (*.*) (*)"));
}

}  // namespace
}  // namespace vurma::app::test
