// The headless export on the scriptable engine: this thread plays the
// streaming thread, feeding PCM once the export has started the graph.
#include "app/export_command.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "analysis/report_error.h"
#include "export/csv_writer.h"
#include "media/fake_engine.h"

namespace vurma {
namespace {

using media::FakeEngine;
using media::FakeFile;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream s(text);
    for (std::string line; std::getline(s, line);) lines.push_back(line);
    return lines;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Mono 8-bit at 8000 Hz: a 1000 Hz tone (bin 64 of 512) at amplitude 100.
std::vector<std::uint8_t> Tone(int frames) {
    std::vector<std::uint8_t> pcm(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        pcm[i] = static_cast<std::uint8_t>(127 + std::lround(100 * std::sin(2 * M_PI * i / 8.0)));
    }
    return pcm;
}

class ExportHeadless : public ::testing::Test {
  protected:
    void SetUp() override {
        Reset();
        previous_ = SetReportSink([this](const std::string& t) { reports_.push_back(t); });

        const char* base = std::getenv("VURMA_TEST_TMP");
        std::string root = base != nullptr ? base : "/tmp";
        ::mkdir(root.c_str(), 0777);
        std::string pattern = root + "/headless-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        SetReportSink(previous_);
        const std::string cmd = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }

    // A fresh engine (the export's session destroys its graph) and no reports.
    void Reset() {
        reports_.clear();
        csv_.clear();
        engine_ = std::make_shared<FakeEngine>();
        FakeFile file;
        file.format = {1, 8, 8000};
        file.duration = 10000000;  // 1 s: room for 8008 frames
        engine_->AddFile(kMedia, file);
        file.duration = 200000000;  // 20 s, more than one block of the search
        engine_->AddFile("/media/long.wav", file);
        FakeFile refused;
        refused.renderResult = media::E_FAIL;
        engine_->AddFile("/media/bad.bin", refused);
    }

    // Runs the export on a worker thread; once the graph runs, feeds `pcm`
    // in buffers of 1000 bytes and posts `endEvent`.
    // feedOnRun: the graph run that receives the data (0: none does).
    int Export(const ExportOptions& options, const std::vector<std::uint8_t>& pcm,
               long endEvent = media::EC_COMPLETE, int feedOnRun = 1) {
        int rc = -1;
        std::atomic<bool> finished{false};
        std::thread worker([&] {
            rc = ExportFileWithEngine(engine_, options, &csv_);
            finished.store(true);
        });
        bool running = false;
        for (int i = 0; i < 5000 && feedOnRun > 0 && !running && !finished.load(); ++i) {
            running = engine_->CallCount("Graph.Run") >= feedOnRun;
            if (!running) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (running) {
            for (std::size_t at = 0; at < pcm.size(); at += 1000) {
                const std::vector<std::uint8_t> buffer(
                    pcm.begin() + static_cast<std::ptrdiff_t>(at),
                    pcm.begin() + static_cast<std::ptrdiff_t>(std::min(pcm.size(), at + 1000)));
                engine_->FeedSample(at / 8000.0, buffer);
            }
            engine_->PostEvent(endEvent);
        }
        worker.join();
        return rc;
    }

    ExportOptions Options(const std::string& out) const {
        ExportOptions o;
        o.mediaPath = kMedia;
        o.outputPath = out.empty() ? "" : dir_ + "/" + out;
        return o;
    }

    static std::string Read(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }

    static constexpr char kMedia[] = "/media/tone.wav";
    std::shared_ptr<FakeEngine> engine_;
    std::string csv_;
    std::string dir_;
    std::vector<std::string> reports_;
    ReportSink previous_;
};

TEST_F(ExportHeadless, ToneGivesTheReadoutsAndTheFileHoldsTheSameText) {
    ExportOptions o = Options("tone.csv");
    o.fftIndex = 0;  // 512
    ASSERT_EQ(Export(o, Tone(8000)), kExitOk);
    EXPECT_TRUE(reports_.empty());

    const auto lines = Lines(csv_);
    ASSERT_EQ(lines.size(), 17u + 256u);
    EXPECT_EQ(lines[1], "tone.wav");
    EXPECT_EQ(lines[3], "ﾓﾉﾗﾙ 8ﾋﾞｯﾄ  8.000KHz");
    EXPECT_EQ(lines[7], "開始時間(s),   0.000");
    EXPECT_EQ(lines[8], "増幅率, 1");
    EXPECT_EQ(lines[9], "ｻﾝﾌﾟﾙ数, 512");
    EXPECT_EQ(lines[10], "窓関数, Humming");
    EXPECT_EQ(lines[13].substr(lines[13].size() - 8), "@ 1000Hz") << lines[13];
    EXPECT_EQ(lines[14], "音階,  ｵｸﾀｰﾌﾞ 4   ｼ");
    EXPECT_EQ(lines[17].substr(0, 8), "15.625, ");
    EXPECT_EQ(lines[21].substr(0, 8), "78.125, ");
    EXPECT_TRUE(EndsWith(lines[21], ",  ｵｸﾀｰﾌﾞ 1  ﾚ#")) << lines[21];
    EXPECT_EQ(lines.back().substr(0, 6), "4000, ");
    EXPECT_EQ(Read(o.outputPath), EncodeCsvBytes(csv_));
}

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

    Reset();
    o = Options("");
    o.startSeconds = 0.5;
    ASSERT_EQ(Export(o, pcm), kExitOk);
    EXPECT_EQ(Lines(csv_)[7], "開始時間(s),   0.500");
}

TEST_F(ExportHeadless, TooLittleDataIsRefusedLikeTheWindowDoes) {
    ExportOptions o = Options("short.csv");
    EXPECT_EQ(Export(o, Tone(511)), kExitFailed);
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_EQ(reports_[0], "ﾃﾞｰﾀのｻﾝﾌﾟﾙ数が極端に少ないので計算できません。  ");
    EXPECT_NE(::access(o.outputPath.c_str(), F_OK), 0);

    // 1500 samples with 4096 chosen: one step down to 2048, which still does not fit.
    Reset();
    o.fftIndex = 3;
    EXPECT_EQ(Export(o, Tone(1500)), kExitFailed);
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_EQ(reports_[0], "ﾃﾞｰﾀのｻﾝﾌﾟﾙ数が少ないので選択できません。  ");

    // 3000 samples with 4096 chosen: analysed with 2048, as the window would.
    Reset();
    EXPECT_EQ(Export(o, Tone(3000)), kExitOk);
    EXPECT_EQ(Lines(csv_)[9], "ｻﾝﾌﾟﾙ数, 2048");

    Reset();
    o = Options("late.csv");
    o.startSeconds = 0.9;  // 7200 + 2048 > 8000
    EXPECT_EQ(Export(o, Tone(8000)), kExitFailed);
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_EQ(reports_[0], "開始時間が終わりに近すぎるので計算できません。  ");
    EXPECT_NE(::access(o.outputPath.c_str(), F_OK), 0);
}

TEST_F(ExportHeadless, RefusedFileAndDecodeErrorFailWithAMessage) {
    ExportOptions o = Options("bad.csv");
    o.mediaPath = "/media/bad.bin";
    EXPECT_EQ(Export(o, {}), kExitFailed);
    ASSERT_FALSE(reports_.empty());
    EXPECT_EQ(reports_.back(), "このﾌｧｲﾙは処理できません。  ");

    Reset();
    o = Options("err.csv");
    EXPECT_EQ(Export(o, Tone(8000), media::EC_ERRORABORT), kExitFailed);
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_EQ(reports_[0], "ﾌｧｲﾙの読み込み中にｴﾗｰが発生しました。  ");
    EXPECT_NE(::access(o.outputPath.c_str(), F_OK), 0);
}

TEST_F(ExportHeadless, StalledDecodeIsLoadedOnceMoreThenGivenUp) {
    ExportOptions o = Options("stall.csv");
    o.stallLimit = std::chrono::milliseconds(300);
    EXPECT_EQ(Export(o, Tone(8000), media::EC_COMPLETE, 2), kExitOk);
    EXPECT_EQ(engine_->CallCount("Graph.RenderFile"), 2);
    EXPECT_TRUE(reports_.empty());
    EXPECT_EQ(Lines(csv_).size(), 17u + 1024u);

    Reset();
    EXPECT_EQ(Export(o, Tone(8000), media::EC_COMPLETE, 0), kExitFailed);
    EXPECT_EQ(engine_->CallCount("Graph.Run"), 2);
    EXPECT_EQ(reports_, std::vector<std::string>{"ﾌｧｲﾙの読み込み中にｴﾗｰが発生しました。  "});
}

TEST(ExportArgs, OptionsAndDefaults) {
    std::vector<std::string> seen;
    const ReportSink previous = SetReportSink([&](const std::string& t) { seen.push_back(t); });
    ExportOptions o;
    ASSERT_TRUE(ParseExportArgs({"--export", "o.csv", "in.wav"}, &o));
    EXPECT_EQ(o.outputPath, "o.csv");
    EXPECT_EQ(o.mediaPath, "in.wav");
    EXPECT_EQ(o.fftIndex, 2);
    EXPECT_EQ(o.gainIndex, 3);
    EXPECT_EQ(o.windowIndex, 2);
    EXPECT_FALSE(o.search);
    EXPECT_EQ(o.startSeconds, 0.0);

    ASSERT_TRUE(ParseExportArgs({"--fft=4096", "--gain", "0.1", "--window", "Hanning", "--start",
                                 "1.25", "--export=o.csv", "--", "--odd name.wav"},
                                &o));
    EXPECT_EQ(o.fftIndex, 3);
    EXPECT_EQ(o.gainIndex, 0);
    EXPECT_EQ(o.windowIndex, 1);
    EXPECT_EQ(o.startSeconds, 1.25);
    EXPECT_EQ(o.mediaPath, "--odd name.wav");
    EXPECT_TRUE(seen.empty());

    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--export", "o.csv", "--gain", "1.5", "in.wav"},
             {"--export", "o.csv", "--start", "nan", "in.wav"},
             {"--export", "o.csv", "--start", "", "in.wav"},
             {"--export", "o.csv", "--search=1", "in.wav"},
             {"--export", "o.csv", "--start"},
             {"--export=", "in.wav"},
             {"in.wav"},
         }) {
        seen.clear();
        EXPECT_FALSE(ParseExportArgs(bad, &o)) << bad.size();
        EXPECT_EQ(seen.size(), 1u);
    }
    EXPECT_TRUE(IsExportCommand({"--search", "--export=o.csv"}));
    EXPECT_FALSE(IsExportCommand({"--", "--export"}));
    EXPECT_FALSE(IsExportCommand({"in.wav"}));
    SetReportSink(previous);
}

}  // namespace
}  // namespace vurma
