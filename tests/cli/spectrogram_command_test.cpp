// The headless spectrogram on the scripted engine: this thread plays the
// streaming thread. A file that proves shorter than it announced is decoded
// once more and drawn for its true length.
#include "app/spectrogram_command.h"

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "display/spectrogram_image.h"
#include "fake_engine.h"
#include "test_gui.h"
#include "test_media.h"
#include "test_support.h"

namespace vurma {
namespace {

TEST(SpectrogramCommandTest, AFileShorterThanAnnouncedIsDrawnForItsTrueLength) {
    test::EnsureApp();
    auto engine = std::make_shared<media::FakeEngine>();
    media::FakeFile file;
    file.format = {1, 16, 8000};
    file.duration = 20000000;  // announces 2 s
    engine->AddFile("/media/tone.wav", file);
    test::ScratchDir dir("spectrogram-command");
    SpectrogramCommand command;
    command.output = dir.path + "/tone.png";
    command.files = {"/media/tone.wav"};

    std::atomic<int> exitCode{-1};
    std::thread worker([&] { exitCode = DrawSpectrograms(engine, command); });
    // Each decode gets 1 s of a 1 kHz tone.
    const std::vector<std::uint8_t> pcm = test::Pcm(16, test::Sine(1, 8000, 8000, 1000, 8000));
    for (int decode = 1; decode <= 2; ++decode) {
        for (int i = 0; i < 5000 && engine->CallCount("Decode.Start") < decode; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(engine->CallCount("Decode.Start"), decode);
        for (std::size_t at = 0; at < pcm.size(); at += 1000)
            engine->FeedSample(static_cast<double>(at),
                               {pcm.begin() + at, pcm.begin() + at + 1000});
        engine->EndCapture(media::S_OK);
    }
    worker.join();
    EXPECT_EQ(exitCode.load(), 0);

    // Laid out for 1 s: every column has levels, the tone's row is bright.
    const QImage image(QString::fromStdString(command.output));
    ASSERT_EQ(image.size(), QSize(800, 500));
    const QRect plot = display::SpectrogramPlotRect(image.size());
    const int toneRow = plot.top() + plot.height() * 3 / 4;  // 1 kHz of 4
    for (int x = plot.left(); x <= plot.right(); x += 13) {
        EXPECT_NE(image.pixel(x, plot.bottom()), display::kNoLevelColour) << x;
        int tone = 0;
        for (int y = toneRow - 1; y <= toneRow + 1; ++y)
            tone = std::max(tone, qGray(image.pixel(x, y)));
        EXPECT_GT(tone, qGray(image.pixel(x, plot.top() + plot.height() / 4)) + 100) << x;
    }
}

}  // namespace
}  // namespace vurma
