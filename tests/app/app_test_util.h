// Shared set-up of the window tests: one QApplication, a recording report
// sink, a fake engine with scripted files and helpers to feed it PCM.
#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QSlider>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dialog_probe.h"
#include "fake_engine.h"
#include "media/capture_run.h"
#include "media/media_session.h"
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

    TestDialog& MakeDialog() {
        dlg = std::make_unique<TestDialog>(engine);
        return *dlg;
    }

    // Opens the file and feeds its capture `frames` frames of `value` (stereo 16-bit).
    void OpenAndFeed(const std::string& path, int frames, std::int16_t value = 16384) {
        vurma::test::OpenAndWait(*dlg, QString::fromStdString(path));
        if (frames > 0) {
            ASSERT_TRUE(engine->FeedSample(0.0, Pcm16(frames, 2, value)));
        }
    }

    // The end of the playback, delivered through the queued notification.
    void EndPlayback() {
        engine->PostComplete();
        QCoreApplication::processEvents();
    }
    // The end of the capture (S_OK) or its failure, delivered the same way.
    void EndCapture(media::HRESULT hr = media::S_OK) {
        ASSERT_TRUE(engine->EndCapture(hr));
        QCoreApplication::processEvents();
    }

    // Waits for the graph commands the window has posted, then delivers
    // what they posted back.
    static void Settle(const TestDialog& d) {
        if (d.m_session != nullptr) {
            ASSERT_TRUE(d.m_session->WaitCommandsIdle(std::chrono::seconds(5)));
        }
        QCoreApplication::processEvents();
    }

    // The transport at a glance, once the graph has caught up: play state (0 none, 1 stopped, 2
    // paused, 3 playing), graph state (0 stopped, 1 paused, 2 running), loaded, capture complete,
    // captured samples, then "save" when Save As is enabled, "timer" while the refresh timer runs
    // and "capturing" while the capture decode runs.
    static std::string State(const TestDialog& d) {
        Settle(d);
        auto n = [](auto v) { return std::to_string(v); };
        return "play " + n(d.m_nPlayState) + " graph " +
               n(d.m_session != nullptr ? d.m_session->graphState() : -1) + " loaded " +
               n(d.m_bLoaded) + " complete " + n(d.m_bCaptureComplete) + " samples " +
               n(d.m_nSamples) + (d.m_actSaveAs->isEnabled() ? " save" : "") +
               (d.m_timer->isActive() ? " timer" : "") +
               (d.m_model->stage() == RecordingModel::Stage::Capturing ? " capturing" : "");
    }

    static void SelectByUser(QComboBox* combo, int index) {
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }

    ReportRecorder rec_;
    std::vector<std::string>& reports = rec_.texts;
    ScratchDir dir_{"app"};
    std::shared_ptr<media::FakeEngine> engine = std::make_shared<media::FakeEngine>();
    std::unique_ptr<TestDialog> dlg;
};

}  // namespace vurma::app::test
