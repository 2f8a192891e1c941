// Shared set-up of the window tests: one QApplication, a recording report
// sink, a fake engine with scripted files and helpers to feed it PCM.
#pragma once

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QSlider>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analyzer_dlg.h"
#include "media/fake_engine.h"
#include "test_gui.h"
#include "test_media.h"
#include "test_support.h"

namespace vurma::app::test {

using vurma::test::EnsureApp;
using vurma::test::ReportRecorder;
using vurma::test::ScratchDir;

// Interleaved 16-bit PCM of `frames` frames, every sample `value`.
inline std::vector<std::uint8_t> Pcm16(int frames, int channels, std::int16_t value) {
    return vurma::test::Pcm(16, std::vector<std::int32_t>(std::size_t(frames) * channels, value));
}

class DialogTest : public ::testing::Test {
  protected:
    void SetUp() override { EnsureApp(); }
    void TearDown() override { dlg.reset(); }

    // Registers a fake file (and creates it on disk, for its date) and
    // returns its path.
    std::string AddFile(const std::string& name, media::FakeFile file = {}) {
        const std::string path = dir_ / name;
        QFile(QString::fromStdString(path)).open(QIODevice::WriteOnly);
        engine->AddFile(path, file);
        return path;
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

    ReportRecorder rec_;
    std::vector<std::string>& reports = rec_.texts;
    ScratchDir dir_{"app"};
    std::shared_ptr<media::FakeEngine> engine = std::make_shared<media::FakeEngine>();
    std::unique_ptr<CAnalyzerDlg> dlg;
};

}  // namespace vurma::app::test
