// Shared set-up of the window tests: one QApplication, a recording report
// sink, a fake engine with scripted files and helpers to feed it PCM.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QSlider>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analysis/report_error.h"
#include "analyzer_dlg.h"
#include "media/fake_engine.h"

namespace vurma::app::test {

inline QApplication* EnsureApp() {
    static int argc = 1;
    static char name[] = "vurma_app_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return app;
}

// Interleaved 16-bit PCM of `frames` frames, every sample `value`.
inline std::vector<std::uint8_t> Pcm16(int frames, int channels, std::int16_t value) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(frames) * channels * 2);
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        bytes[i] = static_cast<std::uint8_t>(value & 0xFF);
        bytes[i + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
    }
    return bytes;
}

class DialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        EnsureApp();
        previousSink_ = SetReportSink([this](const std::string& text) { reports.push_back(text); });
        dir_ = QDir::temp().filePath(
            QStringLiteral("vurma_app_test_%1").arg(QCoreApplication::applicationPid()));
        QDir().mkpath(dir_);
        engine = std::make_shared<media::FakeEngine>();
    }
    void TearDown() override {
        dlg.reset();
        SetReportSink(previousSink_);
    }

    // Registers a fake file (and creates it on disk, for its date) and
    // returns its path.
    std::string AddFile(const std::string& name, media::FakeFile file = {}) {
        const QString path = QDir(dir_).filePath(QString::fromStdString(name));
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.close();
        engine->AddFile(path.toStdString(), file);
        return path.toStdString();
    }

    CAnalyzerDlg& MakeDialog() {
        dlg = std::make_unique<CAnalyzerDlg>(engine);
        return *dlg;
    }

    // Opens the file and feeds `frames` frames of `value` (stereo 16-bit).
    void OpenAndFeed(const std::string& path, int frames, std::int16_t value = 16384) {
        dlg->OpenMediaFile(QString::fromStdString(path));
        if (frames > 0) {
            ASSERT_TRUE(engine->FeedSample(0.0, Pcm16(frames, 2, value)));
        }
    }

    // The end of the media, delivered through the queued notification.
    void Complete() {
        engine->PostComplete();
        QCoreApplication::processEvents();
    }

    static void SelectByUser(QComboBox* combo, int index) {
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }

    std::shared_ptr<media::FakeEngine> engine;
    std::unique_ptr<CAnalyzerDlg> dlg;
    std::vector<std::string> reports;

  private:
    ReportSink previousSink_;
    QString dir_;
};

}  // namespace vurma::app::test
