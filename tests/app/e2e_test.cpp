// One real run: a generated WAV through the GStreamer engine, in the window.
#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTest>
#include <cstdint>
#include <vector>

#include "app/export_command.h"
#include "app_test_util.h"
#include "media/media_session.h"

namespace vurma::app::test {
namespace {

// A 20 s file is captured whole while its playback has only just begun.
TEST(EndToEnd, AWavFileIsBrowsableLongBeforeItsPlaybackEnds) {
    EnsureApp();
    ReportRecorder rec;
    const ScratchDir dir("e2e");
    const QString path = QString::fromStdString(dir / "tone.wav");
    // A 1 kHz tone with one louder stretch at 13 s, where the search must land.
    std::vector<std::int32_t> tone = vurma::test::Sine(1, 44100, 20 * 44100, 1000, 12000);
    for (int i = 13 * 44100; i < 13 * 44100 + 4410; ++i) tone[i] = tone[i] * 5 / 2;
    vurma::test::WriteWav(path.toStdString(), 1, 16, 44100, tone);

    {
        TestDialog d(media::CreateGstEngine());
        d.show();
        vurma::test::OpenAndWait(d, path);
        EXPECT_EQ(d.m_nPlayState, 3);
        EXPECT_TRUE(QTest::qWaitFor([&] { return d.m_bLoaded == 1; }, 10000));
        EXPECT_EQ(d.m_nPlayState, 3);
        EXPECT_EQ(d.m_nSamples, 20 * 44100);
        EXPECT_TRUE(d.m_actSaveAs->isEnabled());
        EXPECT_EQ(d.m_nSampleRate, 44100);
        EXPECT_TRUE(d.m_session->noVideo());
        EXPECT_TRUE(d.m_stNoVideo->isVisible());
        EXPECT_TRUE(d.m_stPeak->text().contains(QStringLiteral("Hz")));

        // Pause, search, Save As: the bytes the command-line export writes
        // with --search, the media name with ".csv" proposed.
        d.OnPause();
        d.OnSearch();
        EXPECT_GE(d.m_nStartSample, 13 * 44100);
        EXPECT_LT(d.m_nStartSample, 13 * 44100 + 4410);
        const QString windowCsv = path + QStringLiteral(".window.csv");
        QString proposed;
        d.m_chooseSaveFile = [&](const QString& p) {
            proposed = p;
            return windowCsv;
        };
        d.ExportCsv();
        EXPECT_TRUE(proposed.endsWith(QFileInfo(path).completeBaseName() + QStringLiteral(".csv")));
        ExportOptions options;
        options.mediaPath = path.toStdString();
        options.search = true;
        options.outputPath = (path + QStringLiteral(".cli.csv")).toStdString();
        ASSERT_EQ(ExportFileHeadless(options, nullptr), kExitOk);
        QFile a(windowCsv), b(QString::fromStdString(options.outputPath));
        ASSERT_TRUE(a.open(QIODevice::ReadOnly));
        ASSERT_TRUE(b.open(QIODevice::ReadOnly));
        const QByteArray windowBytes = a.readAll();
        EXPECT_GT(windowBytes.size(), 1024 * 20);
        EXPECT_EQ(windowBytes, b.readAll());
        d.close();
    }
    for (const std::string& r : rec.texts) ADD_FAILURE() << r;
}

}  // namespace
}  // namespace vurma::app::test
