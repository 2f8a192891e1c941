// The recording model on the scripted engine: its stages and signals through
// a capture that completes, one that breaks off, a decode that cannot start,
// a refused file and a release while the decode runs; and the shared view
// state's change-only signals.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

#include "fake_engine.h"
#include "media/grabber_callback.h"
#include "media/media_session.h"
#include "recording_model.h"
#include "test_gui.h"
#include "test_media.h"
#include "view_state.h"

namespace vurma::app {
namespace {

using media::CaptureEnd;
using Stage = RecordingModel::Stage;

std::vector<std::uint8_t> Stereo16(int frames) {
    return vurma::test::Pcm(16, std::vector<std::int32_t>(std::size_t(frames) * 2, 1000));
}

class RecordingModelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        vurma::test::EnsureApp();
        model.SetEngine(engine);
    }

    // A block sized for `frames` stereo 16-bit frames, as a load makes it.
    media::CGrabberCallback* NewBlock(std::uint32_t frames) {
        auto* block = new media::CGrabberCallback();
        block->AddRef();
        EXPECT_TRUE(block->SetCaptureBuffer(std::uint64_t(frames) * 4));
        block->m_bCapture.store(1);
        blocks.push_back(block);
        return block;
    }
    void TearDown() override {
        model.Release();
        for (auto* block : blocks) block->Release();
    }
    media::LoadedMedia Loaded(std::uint32_t frames) {
        media::LoadedMedia loaded;
        loaded.channels = 2;
        loaded.bitsPerSample = 16;
        loaded.sampleRate = 44100;
        loaded.frameCount = frames;
        loaded.endFrame = 10000000;
        loaded.infoText = "info";
        loaded.shownInfoText = "shown";
        return loaded;
    }
    bool DecodeRunning() const {
        const auto decode = engine->decode();
        return decode != nullptr && decode->running();
    }
    // Lets the queued end of the decode arrive.
    void Drain() { QCoreApplication::processEvents(); }

    std::shared_ptr<media::FakeEngine> engine = std::make_shared<media::FakeEngine>();
    RecordingModel model;
    std::vector<media::CGrabberCallback*> blocks;
};

TEST_F(RecordingModelTest, CaptureRunsFromOpenedThroughProgressToItsEnd) {
    QSignalSpy loading(&model, &RecordingModel::loading);
    QSignalSpy opened(&model, &RecordingModel::opened);
    QSignalSpy progress(&model, &RecordingModel::progress);
    QSignalSpy ended(&model, &RecordingModel::captureEnded);

    model.BeginLoading(QStringLiteral("some/a.wav"));
    EXPECT_EQ(model.stage(), Stage::Loading);
    ASSERT_EQ(loading.count(), 1);
    EXPECT_TRUE(QFileInfo(loading[0][0].toString()).isAbsolute());
    EXPECT_TRUE(model.path().endsWith(QStringLiteral("/some/a.wav")));
    EXPECT_EQ(model.Pcm().data, nullptr);

    model.StartCapture(Loaded(4000), NewBlock(4000));
    EXPECT_EQ(model.stage(), Stage::Capturing);
    EXPECT_EQ(opened.count(), 1);
    EXPECT_EQ(model.infoText(), "info");
    EXPECT_EQ(model.shownInfoText(), QStringLiteral("shown"));
    EXPECT_EQ(model.fileName(), QStringLiteral("a.wav"));
    ASSERT_NE(engine->decode(), nullptr);
    EXPECT_EQ(engine->decode()->path, model.path().toStdString());

    ASSERT_TRUE(engine->FeedSample(0.0, Stereo16(1000)));
    EXPECT_EQ(model.framesCaptured(), 1000u);
    // The progress tick announces what has arrived.
    EXPECT_TRUE(progress.wait(1000));
    EXPECT_EQ(progress.last()[0].value<std::uint32_t>(), 1000u);
    EXPECT_FALSE(model.Source().complete);
    EXPECT_EQ(model.Source().totalFrames, 4000u);

    ASSERT_TRUE(engine->EndCapture());
    EXPECT_EQ(ended.count(), 0);  // queued to the GUI thread
    Drain();
    ASSERT_EQ(ended.count(), 1);
    EXPECT_EQ(ended[0][0].value<CaptureEnd>(), CaptureEnd::Complete);
    EXPECT_EQ(model.stage(), Stage::Captured);
    EXPECT_EQ(model.captureEnd(), CaptureEnd::Complete);
    EXPECT_TRUE(model.Source().complete);
    EXPECT_EQ(model.Pcm().dataLen, 4000u);
    EXPECT_FALSE(DecodeRunning());
}

TEST_F(RecordingModelTest, BrokenOrUnstartableDecodesEndCapturedWithWhatArrived) {
    struct Case {
        const char* name;
        bool startFails;
        CaptureEnd expected;
    };
    for (const Case c : {Case{"decoder error", false, CaptureEnd::Failed},
                         Case{"decode cannot start", true, CaptureEnd::Failed}}) {
        SCOPED_TRACE(c.name);
        engine->ClearFailures();
        if (c.startFails) engine->FailCall("Decode.Start", media::E_FAIL);
        QSignalSpy ended(&model, &RecordingModel::captureEnded);
        model.BeginLoading(QStringLiteral("/b.wav"));
        model.StartCapture(Loaded(4000), NewBlock(4000));
        if (!c.startFails) {
            ASSERT_TRUE(engine->FeedSample(0.0, Stereo16(500)));
            ASSERT_TRUE(engine->EndCapture(media::E_FAIL));
            Drain();
        }
        ASSERT_EQ(ended.count(), 1);
        EXPECT_EQ(ended[0][0].value<CaptureEnd>(), c.expected);
        EXPECT_EQ(model.stage(), Stage::Captured);
        EXPECT_EQ(model.framesCaptured(), c.startFails ? 0u : 500u);
    }
}

TEST_F(RecordingModelTest, ANewFileOrAReleaseAnnouncesReleasingWhileTheBytesAreStillThere) {
    model.BeginLoading(QStringLiteral("/c.wav"));
    model.StartCapture(Loaded(4000), NewBlock(4000));
    ASSERT_TRUE(engine->FeedSample(0.0, Stereo16(100)));

    // A view reads the bytes up to the moment it is told to let go.
    std::vector<std::uint32_t> seenAtRelease;
    QObject::connect(&model, &RecordingModel::releasing, &model,
                     [&] { seenAtRelease.push_back(model.framesCaptured()); });
    QSignalSpy released(&model, &RecordingModel::released);
    QSignalSpy ended(&model, &RecordingModel::captureEnded);

    model.BeginLoading(QStringLiteral("/d.wav"));  // while the decode still runs
    EXPECT_EQ(seenAtRelease, std::vector<std::uint32_t>{100});
    EXPECT_EQ(released.count(), 1);
    EXPECT_FALSE(DecodeRunning());
    EXPECT_FALSE(engine->EndCapture());  // nothing left to end
    Drain();
    EXPECT_EQ(ended.count(), 0);  // a stopped run reports nothing
    EXPECT_EQ(model.stage(), Stage::Loading);
    EXPECT_EQ(model.Pcm().data, nullptr);

    // A refusal ends the loading with the reason and nothing to read.
    QSignalSpy failed(&model, &RecordingModel::failed);
    model.FailLoading(QStringLiteral("reason"));
    ASSERT_EQ(failed.count(), 1);
    EXPECT_EQ(failed[0][0].toString(), QStringLiteral("reason"));
    EXPECT_EQ(model.stage(), Stage::Empty);
    EXPECT_TRUE(model.path().isEmpty());

    // Releasing an empty model announces nothing.
    model.Release();
    EXPECT_EQ(seenAtRelease.size(), 1u);
}

TEST_F(RecordingModelTest, TheModelKeepsTheBlockAliveUntilItsRelease) {
    model.BeginLoading(QStringLiteral("/e.wav"));
    auto* block = NewBlock(1000);
    model.StartCapture(Loaded(1000), block);
    ASSERT_TRUE(engine->FeedSample(0.0, Stereo16(1000)));
    ASSERT_TRUE(engine->EndCapture());
    Drain();
    // The loader lets go of its reference (a new graph): the bytes stay.
    blocks.clear();
    block->Release();
    EXPECT_EQ(model.Pcm().data, block->m_pData);
    EXPECT_EQ(model.framesCaptured(), 1000u);
    model.Release();  // frees it (ASan checks)
    EXPECT_EQ(model.Pcm().data, nullptr);
}

TEST(ViewStateTest, SettersAnnounceOnlyChanges) {
    ViewState state;
    QSignalSpy start(&state, &ViewState::frameStartChanged);
    QSignalSpy settings(&state, &ViewState::frameSettingsChanged);
    QSignalSpy playing(&state, &ViewState::playingFrameChanged);
    QSignalSpy selection(&state, &ViewState::selectionChanged);

    state.setFrameStart(10);
    state.setFrameStart(10);
    state.setFrameSettings(state.fftIndex(), state.windowIndex());
    state.setFrameSettings(0, 1);
    state.setPlayingFrame(5);
    state.setSelection({100, 50});  // empty: nothing was selected, nothing changes
    state.setSelection({50, 100});
    state.setSelection({50, 100});
    EXPECT_EQ(start.count(), 1);
    EXPECT_EQ(settings.count(), 1);
    EXPECT_EQ(playing.count(), 1);
    EXPECT_EQ(selection.count(), 1);
    EXPECT_EQ(state.selection().length(), 50);

    state.Reset();
    EXPECT_EQ(state.frameStart(), 0);
    EXPECT_EQ(state.playingFrame(), 0);
    EXPECT_TRUE(state.selection().empty());
    EXPECT_EQ(state.fftIndex(), 0);  // the settings stay
    EXPECT_EQ(start.count(), 2);
    EXPECT_EQ(selection.count(), 2);
}

}  // namespace
}  // namespace vurma::app
