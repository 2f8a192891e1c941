// Runs the built executable's --report on files written here: the lossy
// check on a real MP3 transcode, stored formats, order, failures and exit
// codes.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "test_media.h"
#include "test_support.h"

namespace vurma {
namespace {

// The text of one key's value in a JSON line ("null", "true", "16", "[0, 0]", "\"s16\"").
std::string Field(const std::string& line, const std::string& key) {
    const std::string tag = "\"" + key + "\": ";
    const std::size_t at = line.find(tag);
    if (at == std::string::npos) return "<missing>";
    const std::size_t start = at + tag.size();
    std::size_t end = start;
    if (line[start] == '[') {
        end = line.find(']', start) + 1;
    } else if (line[start] == '"') {
        end = line.find('"', start + 1) + 1;
    } else {
        end = line.find_first_of(",}", start);
    }
    return line.substr(start, end - start);
}

// A number, or the first of an array.
double Number(const std::string& line, const std::string& key) {
    const std::string text = Field(line, key);
    return std::stod(text.substr(text[0] == '[' ? 1 : 0));
}

// Pink noise (Kellet's filter over white noise) at about -20 dBFS RMS.
std::vector<std::int32_t> PinkNoise(int channels, int rate, double seconds) {
    std::mt19937 rng(11);
    std::normal_distribution<double> white(0.0, 0.05);
    const int frames = static_cast<int>(seconds * rate);
    std::vector<std::int32_t> out(static_cast<std::size_t>(frames) * channels);
    for (int c = 0; c < channels; ++c) {
        double b[7] = {};
        for (int i = 0; i < frames; ++i) {
            const double w = white(rng);
            b[0] = 0.99886 * b[0] + w * 0.0555179;
            b[1] = 0.99332 * b[1] + w * 0.0750759;
            b[2] = 0.96900 * b[2] + w * 0.1538520;
            b[3] = 0.86650 * b[3] + w * 0.3104856;
            b[4] = 0.55000 * b[4] + w * 0.5329522;
            b[5] = -0.7616 * b[5] - w * 0.0168980;
            const double v = b[0] + b[1] + b[2] + b[3] + b[4] + b[5] + b[6] + w * 0.5362;
            b[6] = w * 0.115926;
            out[static_cast<std::size_t>(i) * channels + c] =
                static_cast<std::int32_t>(std::lround(std::clamp(v * 0.3, -1.0, 1.0) * 32767));
        }
    }
    return out;
}

class ReportCli : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<test::ScratchDir>("report");
        test::WriteWav(Path("pink.wav"), 2, 16, 44100, PinkNoise(2, 44100, 20));
        const std::string wav =
            "filesrc location=" + Path("pink.wav") + " ! wavparse ! audioconvert";
        mp3Ok_ = test::GstLaunch(
            wav + " ! lamemp3enc target=bitrate bitrate=128 cbr=true ! filesink location=" +
            Path("pink.mp3"));
        // 16-bit samples stored as 24-bit.
        std::vector<std::int32_t> wide = test::Sine(2, 48000, 48000, 440, 10000);
        for (std::int32_t& s : wide) s *= 256;
        test::WriteWav(Path("wide.wav"), 2, 24, 48000, wide);
        std::ofstream(Path("junk.wav")) << "this is not a media file";
        std::ofstream(Path("empty.wav")) << "";
        test::WriteWav(Path("tiny.wav"), 1, 16, 44100, test::Sine(1, 44100, 441, 1000, 16000));
        // Half of a FLAC file, as an interrupted copy leaves it (its header
        // still announces the whole length).
        flacOk_ = test::GstLaunch(wav + " ! flacenc ! filesink location=" + Path("whole.flac"));
        const std::string whole = test::ReadFile(Path("whole.flac"));
        std::ofstream(Path("cut.flac"), std::ios::binary) << whole.substr(0, whole.size() / 2);
        videoOk_ = test::GstLaunch(
            "videotestsrc num-buffers=10 ! video/x-raw,width=64,height=48 ! avimux ! filesink "
            "location=" +
            Path("video.avi"));
    }
    static void TearDownTestSuite() { dir_.reset(); }
    static std::string Path(const std::string& name) { return *dir_ / name; }

    static test::RunResult Vurma(const std::string& args,
                                 const std::string& locale = "en_US.UTF-8") {
        return test::RunProgram(VURMA_EXE, args, locale, dir_->path);
    }

    static std::unique_ptr<test::ScratchDir> dir_;
    static bool mp3Ok_, videoOk_, flacOk_;
};
std::unique_ptr<test::ScratchDir> ReportCli::dir_;
bool ReportCli::mp3Ok_ = false;
bool ReportCli::videoOk_ = false;
bool ReportCli::flacOk_ = false;

TEST_F(ReportCli, Mp3TranscodeIsSuspectAndTheOriginalIsNot) {
    ASSERT_TRUE(mp3Ok_);
    const test::RunResult r =
        Vurma("--report --json '" + Path("pink.wav") + "' '" + Path("pink.mp3") + "'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(r.lines().size(), 2u) << r.out;
    const std::string wav = r.lines()[0];
    const std::string mp3 = r.lines()[1];
    EXPECT_EQ(Field(wav, "file"), "\"" + Path("pink.wav") + "\"");
    EXPECT_GT(Number(wav, "bandwidth_hz"), 20000);
    EXPECT_EQ(Field(wav, "lossy_suspect"), "false");
    EXPECT_EQ(Field(wav, "codec"), "\"PCM\"");
    EXPECT_EQ(Field(wav, "lossless"), "true");
    EXPECT_EQ(Field(wav, "sample_format"), "\"s16\"");
    EXPECT_EQ(Field(wav, "effective_bits"), "16");
    EXPECT_NEAR(Number(wav, "duration_s"), 20.0, 0.001);

    EXPECT_GE(Number(mp3, "bandwidth_hz"), 15000);
    EXPECT_LE(Number(mp3, "bandwidth_hz"), 17500);
    EXPECT_EQ(Field(mp3, "lossy_suspect"), "true");
    EXPECT_EQ(Field(mp3, "codec"), "\"MPEG-1 Layer 3\"");
    EXPECT_EQ(Field(mp3, "lossless"), "false");
    EXPECT_EQ(Field(mp3, "sample_format"), "null");
    EXPECT_EQ(Field(mp3, "bits"), "null");
    EXPECT_EQ(Field(mp3, "effective_bits"), "null");
    // The same loudness within the codec's error.
    EXPECT_NEAR(Number(mp3, "integrated_lufs"), Number(wav, "integrated_lufs"), 0.5);
    EXPECT_EQ(r.err, "");  // no progress line when stderr is not a terminal
}

TEST_F(ReportCli, FailuresKeepTheirPlaceAndTheRunGoesOn) {
    ASSERT_TRUE(videoOk_ && flacOk_);
    const test::RunResult r =
        Vurma("--report --json '" + Path("junk.wav") + "' '" + Path("tiny.wav") + "' '" +
              Path("missing.wav") + "' '" + Path("cut.flac") + "' '" + Path("video.avi") + "' '" +
              Path("empty.wav") + "'");
    EXPECT_EQ(r.exitCode, 1);
    ASSERT_EQ(r.lines().size(), 6u) << r.out;
    EXPECT_NE(Field(r.lines()[5], "error"), "<missing>");
    EXPECT_NE(Field(r.lines()[3], "error").find("cut short"), std::string::npos) << r.lines()[3];
    EXPECT_NE(Field(r.lines()[4], "error").find("no sound"), std::string::npos) << r.lines()[4];
    EXPECT_EQ(Field(r.lines()[0], "file"), "\"" + Path("junk.wav") + "\"");
    EXPECT_NE(Field(r.lines()[0], "error"), "<missing>");
    EXPECT_EQ(Field(r.lines()[0], "duration_s"), "<missing>");
    // A 0.01 s file: peaks, but no loudness and a reason.
    EXPECT_EQ(Field(r.lines()[1], "integrated_lufs"), "null");
    EXPECT_NEAR(Number(r.lines()[1], "sample_peak_dbfs"), -6.25, 0.05);
    EXPECT_NE(Field(r.lines()[1], "notes"), "[]");
    EXPECT_NE(Field(r.lines()[2], "error"), "<missing>");
    EXPECT_NE(r.err.find(Path("junk.wav")), std::string::npos);
    EXPECT_NE(r.err.find(Path("missing.wav")), std::string::npos);
}

TEST_F(ReportCli, TableAndUsage) {
    const test::RunResult table = Vurma("--report '" + Path("wide.wav") + "'");
    EXPECT_EQ(table.exitCode, 0);
    EXPECT_NE(table.out.find("Integrated loudness"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find(" LUFS"), std::string::npos);
    const test::RunResult japanese = Vurma("--report '" + Path("wide.wav") + "'", "ja_JP.UTF-8");
    EXPECT_NE(japanese.out.find("統合ラウドネス"), std::string::npos);

    EXPECT_EQ(Vurma("--report").exitCode, 2);
    EXPECT_EQ(Vurma("--report --jsn '" + Path("wide.wav") + "'").exitCode, 2);
    EXPECT_NE(Vurma("--help").out.find("--report"), std::string::npos);
}

}  // namespace
}  // namespace vurma
