// The headless export on the scriptable engine: this thread plays the
// streaming thread, feeding PCM once the export has started its capture.
#include "app/export_command.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "export/csv_writer.h"
#include "fake_engine.h"
#include "test_media.h"
#include "test_support.h"

namespace vurma {
namespace {

using media::FakeEngine;
using media::FakeFile;
using test::Lines;

// Mono 8-bit at 8000 Hz: a 1000 Hz tone (bin 64 of 512) at amplitude 100.
std::vector<std::uint8_t> Tone(int frames) {
    return test::Pcm(8, test::Sine(1, 8000, frames, 1000, 100));
}

class ExportHeadless : public ::testing::Test {
  protected:
    void SetUp() override { Reset(); }

    // A fresh engine (the export's session destroys its graph) and no reports.
    void Reset() {
        rec_.texts.clear();
        csv_.clear();
        engine_ = std::make_shared<FakeEngine>();
        FakeFile file;
        file.format = {1, 8, 8000};
        file.duration = 10000000;  // 1 s: room for 8008 frames
        engine_->AddFile(kMedia, file);
        file.duration = 200000000;  // 20 s, more than one block of the search
        engine_->AddFile("/media/long.wav", file);
    }

    // Runs the export on a worker thread; once the capture runs, feeds `pcm`
    // in buffers of 1000 bytes and ends the capture with `end`.
    // feedOnRun: the capture run that receives the data (0: none does).
    int Export(const ExportOptions& options, const std::vector<std::uint8_t>& pcm,
               media::HRESULT end = media::S_OK, int feedOnRun = 1) {
        int rc = -1;
        std::atomic<bool> finished{false};
        std::thread worker([&] {
            rc = ExportFileWithEngine(engine_, options, &csv_);
            finished.store(true);
        });
        bool running = false;
        for (int i = 0; i < 5000 && feedOnRun > 0 && !running && !finished.load(); ++i) {
            running = engine_->CallCount("Decode.Start") >= feedOnRun;
            if (!running) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (running) {
            for (std::size_t at = 0; at < pcm.size(); at += 1000) {
                const std::vector<std::uint8_t> buffer(
                    pcm.begin() + static_cast<std::ptrdiff_t>(at),
                    pcm.begin() + static_cast<std::ptrdiff_t>(std::min(pcm.size(), at + 1000)));
                engine_->FeedSample(at / 8000.0, buffer);
            }
            engine_->EndCapture(end);
        }
        worker.join();
        return rc;
    }

    ExportOptions Options(const std::string& out) const {
        ExportOptions o;
        o.mediaPath = kMedia;
        o.outputPath = out.empty() ? "" : dir_ / out;
        return o;
    }

    static constexpr char kMedia[] = "/media/tone.wav";
    std::shared_ptr<FakeEngine> engine_;
    std::string csv_;
    test::ScratchDir dir_{"headless"};
    test::ReportRecorder rec_;
    std::vector<std::string>& reports_ = rec_.texts;
};

TEST_F(ExportHeadless, StartAndSearchMoveTheFrame) {
    std::vector<std::uint8_t> pcm = Tone(8000);
    pcm[5000] = 255;  // the loudest sample
    ExportOptions o = Options("");
    o.search = true;
    o.windowIndex = 0;
    o.gainIndex = 9;  // 100
    ASSERT_EQ(Export(o, pcm), kExitOk);
    auto lines = Lines(csv_);
    EXPECT_EQ(lines[7], "開始時間(s),   0.625");
    EXPECT_EQ(lines[8], "増幅率, 100");
    EXPECT_EQ(lines[9], "ｻﾝﾌﾟﾙ数, 2048");
    EXPECT_EQ(lines[10], "窓関数, Rectangular");

    // Equal peaks in later blocks of a long file: the earlier one is chosen.
    Reset();
    std::vector<std::uint8_t> longPcm = Tone(160000);
    longPcm[70000] = 255;
    longPcm[140000] = 255;
    o.mediaPath = "/media/long.wav";
    ASSERT_EQ(Export(o, longPcm), kExitOk);
    EXPECT_EQ(Lines(csv_)[7], "開始時間(s),   8.750");

    // The loudest sample in the last N - 1: the frame ends with the recording.
    Reset();
    pcm = Tone(8000);
    pcm[7990] = 255;
    o.mediaPath = kMedia;
    ASSERT_EQ(Export(o, pcm), kExitOk);
    EXPECT_EQ(Lines(csv_)[7], "開始時間(s),   0.744");  // (8000 - 2048) / 8000
}

// Too short a file and too late a start are checked on the command line.
TEST_F(ExportHeadless, TooLittleDataIsRefusedLikeTheWindowDoes) {
    ExportOptions o = Options("short.csv");
    // 1500 samples with 4096 chosen: one step down to 2048, which still does not fit.
    o.fftIndex = 3;
    EXPECT_EQ(Export(o, Tone(1500)), kExitFailed);
    EXPECT_EQ(reports_, std::vector<std::string>{"ﾃﾞｰﾀのｻﾝﾌﾟﾙ数が少ないので選択できません。  "});
    EXPECT_NE(::access(o.outputPath.c_str(), F_OK), 0);
}

// A refused file is checked on the command line.
TEST_F(ExportHeadless, DecodeErrorFailsWithAMessage) {
    ExportOptions o = Options("err.csv");
    EXPECT_EQ(Export(o, Tone(8000), media::E_FAIL), kExitFailed);
    EXPECT_EQ(reports_, std::vector<std::string>{"ﾌｧｲﾙの読み込み中にｴﾗｰが発生しました。  "});
    EXPECT_NE(::access(o.outputPath.c_str(), F_OK), 0);
}

TEST_F(ExportHeadless, StalledDecodeIsLoadedOnceMoreThenGivenUp) {
    ExportOptions o = Options("stall.csv");
    o.stallLimit = std::chrono::milliseconds(300);
    EXPECT_EQ(Export(o, Tone(8000), media::S_OK, 2), kExitOk);
    EXPECT_EQ(engine_->CallCount("Graph.RenderFile"), 2);
    EXPECT_TRUE(reports_.empty());
    EXPECT_EQ(Lines(csv_).size(), 17u + 1024u);

    Reset();
    EXPECT_EQ(Export(o, Tone(8000), media::S_OK, 0), kExitFailed);
    EXPECT_EQ(engine_->CallCount("Decode.Start"), 2);
    EXPECT_EQ(reports_, std::vector<std::string>{"ﾌｧｲﾙの読み込み中にｴﾗｰが発生しました。  "});
}

TEST(ExportArgs, BothOptionFormsAndTheEndOfOptions) {
    test::ReportRecorder rec;
    ExportOptions o;  // the defaults are checked on the command line
    ASSERT_TRUE(ParseExportArgs({"--fft=4096", "--gain", "0.1", "--window", "Hanning", "--start",
                                 "1.25", "--export=o.csv", "--", "--odd name.wav"},
                                &o));
    EXPECT_EQ(o.fftIndex, 3);
    EXPECT_EQ(o.gainIndex, 0);
    EXPECT_EQ(o.windowIndex, 1);
    EXPECT_EQ(o.startSeconds, 1.25);
    EXPECT_EQ(o.outputPath, "o.csv");
    EXPECT_EQ(o.mediaPath, "--odd name.wav");
    EXPECT_TRUE(rec.texts.empty());

    // "Hamming" naming the list's "Humming" is checked on the command line.
    EXPECT_TRUE(IsExportCommand({"--search", "--export=o.csv"}));
    EXPECT_FALSE(IsExportCommand({"--", "--export"}));
    EXPECT_FALSE(IsExportCommand({"in.wav"}));
}

TEST(ExportArgs, EachMistakeIsReportedOnce) {
    const std::string in = "in.wav";
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--export", "o", "--gain", "1.5", in},
         "--gain takes 0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 50 or 100, not 1.5"},
        {{"--export", "o", "--fft", "300", in}, "--fft takes 512, 1024, 2048 or 4096, not 300"},
        {{"--export", "o", "--window", "Blackman", in},
         "--window takes Rectangular, Hanning or Humming, not Blackman"},
        {{"--export", "o", "--start", "nan", in}, "--start takes seconds, 0 or more, not nan"},
        {{"--export", "o", "--start", "1s", in}, "--start takes seconds, 0 or more, not 1s"},
        {{"--export", "o", "--start", "0.1", "--search", in},
         "--start and --search cannot be combined"},
        {{"--export", "o", "--search=1", in}, "--search takes no value: 1"},
        {{"--export", "o", in, "x.wav"}, "--export takes one FILE, not also x.wav"},
        {{"--export=", in}, "missing value for --export"},
        {{"--export", "o"}, "--export needs the media FILE to analyse"},
        {{in}, "--export OUT.csv is missing"},
    };
    for (const auto& c : cases) {
        test::ReportRecorder rec;
        ExportOptions o;
        EXPECT_FALSE(ParseExportArgs(c.args, &o)) << c.message;
        ASSERT_EQ(rec.texts.size(), 1u) << c.message;
        EXPECT_EQ(rec.texts[0].rfind("vurma: ", 0), 0u) << rec.texts[0];
        EXPECT_NE(rec.texts[0].find(c.message), std::string::npos) << rec.texts[0];
    }
}

}  // namespace
}  // namespace vurma
