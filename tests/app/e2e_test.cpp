// One real run: a generated WAV through the GStreamer engine, in the window.
#include <QAction>
#include <QFile>
#include <QLabel>
#include <QTest>
#include <cmath>

#include "app_test_util.h"
#include "media/media_session.h"

namespace vurma::app::test {
namespace {

// Writes a mono 16-bit WAV of `frames` frames of a 1 kHz tone.
void WriteWav(const QString& path, int frames, int rate) {
    QByteArray data;
    for (int i = 0; i < frames; ++i) {
        const auto v = static_cast<std::int16_t>(12000 * std::sin(2 * M_PI * 1000.0 * i / rate));
        data.append(static_cast<char>(v & 0xFF));
        data.append(static_cast<char>((v >> 8) & 0xFF));
    }
    auto le32 = [](QByteArray& b, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b.append(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    auto le16 = [](QByteArray& b, std::uint16_t v) {
        b.append(static_cast<char>(v & 0xFF));
        b.append(static_cast<char>(v >> 8));
    };
    QByteArray wav("RIFF");
    le32(wav, 36 + data.size());
    wav.append("WAVEfmt ");
    le32(wav, 16);
    le16(wav, 1);
    le16(wav, 1);
    le32(wav, rate);
    le32(wav, rate * 2);
    le16(wav, 2);
    le16(wav, 16);
    wav.append("data");
    le32(wav, data.size());
    wav.append(data);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(wav);
}

TEST(EndToEnd, AWavFilePlaysCapturesAndBecomesBrowsable) {
    EnsureApp();
    std::vector<std::string> reports;
    const ReportSink previous =
        SetReportSink([&](const std::string& text) { reports.push_back(text); });
    const QString path = QDir::temp().filePath(
        QStringLiteral("vurma_e2e_%1.wav").arg(QCoreApplication::applicationPid()));
    WriteWav(path, 44100, 44100);

    {
        CAnalyzerDlg d(media::CreateGstEngine());
        d.show();
        d.OpenMediaFile(path);
        EXPECT_EQ(d.m_nPlayState, 3);
        EXPECT_TRUE(QTest::qWaitFor([&] { return d.m_nPlayState == 1 && d.m_bLoaded; }, 10000));
        EXPECT_EQ(d.m_nSamples, 44100);
        EXPECT_TRUE(d.m_actSaveAs->isEnabled());
        EXPECT_EQ(d.m_nSampleRate, 44100);
        EXPECT_TRUE(d.m_session->noVideo());
        EXPECT_TRUE(d.m_stNoVideo->isVisible());
        EXPECT_TRUE(d.m_stPeak->text().contains(QStringLiteral("Hz")));
        d.close();
    }
    QFile::remove(path);
    SetReportSink(previous);
    for (const std::string& r : reports) ADD_FAILURE() << r;
}

}  // namespace
}  // namespace vurma::app::test
