// Runs the built executable's command-line modes on WAV files written here
// and checks exit codes, messages and the CSV file.
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/stat.h>
#include <QImage>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "analysis/spectrogram.h"
#include "display/colour_map.h"
#include "display/spectrogram_image.h"
#include "test_media.h"
#include "test_support.h"

namespace vurma {
namespace {

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// CP932 with CR LF back to UTF-8 with LF.
std::string FromCsvBytes(std::string bytes) {
    std::erase(bytes, '\r');
    iconv_t cd = ::iconv_open("UTF-8", "CP932");
    std::string out(bytes.size() * 3 + 16, '\0');
    char* in = bytes.data();
    char* o = out.data();
    std::size_t inLeft = bytes.size(), outLeft = out.size();
    const std::size_t rc = ::iconv(cd, &in, &inLeft, &o, &outLeft);
    ::iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1)) return "<not CP932>";
    out.resize(out.size() - outLeft);
    return out;
}

class ExportCli : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<test::ScratchDir>("cli");
        // One second of a 1000 Hz tone at half scale with one full-scale
        // click at sample 30000.
        std::vector<std::int32_t> tone = test::Sine(1, 44100, 44100, 1000, 16383);
        tone[30000] = 32767;
        test::WriteWav(Path("tone.wav"), 1, 16, 44100, tone);
        test::WriteWav(Path("short.wav"), 1, 16, 8000, std::vector<std::int32_t>(511, 1000));
    }
    static void TearDownTestSuite() { dir_.reset(); }
    static std::string Path(const std::string& name) { return *dir_ / name; }

    static test::RunResult Vurma(const std::string& args,
                                 const std::string& locale = "ja_JP.UTF-8") {
        return test::RunProgram(VURMA_EXE, args, locale, dir_->path);
    }

    static std::unique_ptr<test::ScratchDir> dir_;
};
std::unique_ptr<test::ScratchDir> ExportCli::dir_;

// The defaults but for the window, named with its correct spelling; the file
// keeps the list's "Humming".
TEST_F(ExportCli, ToneAtAGivenStart) {
    const std::string csv = Path("tone.csv");
    const test::RunResult r =
        Vurma("--export " + csv + " --start 0.5 --window Hamming " + Path("tone.wav"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");

    const std::string bytes = test::ReadFile(csv);
    EXPECT_EQ(bytes.substr(0, 16), "[\xCC\xB1\xB2\xD9\x98\x5E\x89\xB9\x8F\xF0\x8C\x8F]\r\n");
    const auto lines = test::Lines(FromCsvBytes(bytes));
    ASSERT_EQ(lines.size(), 17u + 1024u);
    EXPECT_EQ(lines[3], "ﾓﾉﾗﾙ 16ﾋﾞｯﾄ 44.100KHz");
    EXPECT_EQ(lines[7], "開始時間(s),   0.500");
    EXPECT_EQ(lines[8], "増幅率, 1");
    EXPECT_EQ(lines[9], "ｻﾝﾌﾟﾙ数, 2048");
    EXPECT_EQ(lines[10], "窓関数, Humming");
    EXPECT_EQ(lines[13].substr(lines[13].size() - 8), "@  990Hz") << lines[13];
    EXPECT_EQ(lines[17].substr(0, 9), "21.5332, ");
    EXPECT_EQ(lines.back().substr(0, 7), "22050, ");
}

TEST_F(ExportCli, SearchStartsAtTheLoudestSample) {
    const std::string csv = Path("search.csv");
    const test::RunResult r =
        Vurma("--export=" + csv + " --search --fft 512 --window Rectangular --gain 2 " +
              Path("tone.wav"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = test::Lines(FromCsvBytes(test::ReadFile(csv)));
    ASSERT_EQ(lines.size(), 17u + 256u);
    EXPECT_EQ(lines[7], "開始時間(s),   0.680");  // 30000 / 44100
    EXPECT_EQ(lines[13].substr(lines[13].size() - 8), "@ 1033Hz") << lines[13];
}

// Usage mistakes exit with 2, refusals with 1; the message reaches stderr and
// no file is written. The wording of each is checked where it is made.
TEST_F(ExportCli, MistakesAndRefusalsExitWithTheirCodes) {
    const std::string wav = Path("tone.wav"), out = Path("never.csv");
    const struct {
        std::string args;
        int exitCode;
        std::string message;
    } cases[] = {
        {"--export " + out + " --bogus " + wav, 2, "vurma: unknown option --bogus"},
        {"--export " + out + " --start -1 " + wav, 2, "--start takes seconds, 0 or more, not -1"},
        {"--search --export", 2, "missing value for --export"},
        {"--export " + Path("none/out.csv") + " " + wav, 1, "ﾌｧｲﾙを作成できません。  "},
        {"--export " + out + " " + Path("short.wav"), 1,
         "ﾃﾞｰﾀのｻﾝﾌﾟﾙ数が極端に少ないので計算できません。  "},
        {"--export " + out + " " + Path("missing.wav"), 1, "このﾌｧｲﾙは処理できません。  "},
        {"--export " + out + " --start 0.99 " + wav, 1,
         "開始時間が終わりに近すぎるので計算できません。  "},
    };
    for (const auto& c : cases) {
        const test::RunResult r = Vurma(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << "\n" << r.err;
    }
    EXPECT_FALSE(Exists(out));
    EXPECT_FALSE(Exists(Path("none")));
    EXPECT_NE(Vurma("--help").out.find("--info FILE"), std::string::npos);
}

// The desktop's language chooses the texts: Japanese ones, the program's
// own, or English for any other locale; the CSV is the same file in both.
TEST_F(ExportCli, InfoAndRefusalsSpeakTheLocaleAndTheCsvDoesNot) {
    test::WriteWav(Path("info.wav"), 2, 16, 44100, test::Sine(2, 44100, 132300, 220, 20000));
    std::ofstream(Path("info.txt")) << "text\n";
    const struct {
        std::string locale, info, refused;
    } cases[] = {
        {"ja_JP.UTF-8", "\nｽﾃﾚｵ 16ﾋﾞｯﾄ 44.100KHz\n00分03秒000\n", "このﾌｧｲﾙは処理できません。  \n"},
        {"en_US.UTF-8", "\nStereo 16-bit 44.100kHz\n00:03.000\n",
         "This file cannot be processed.\n"},
    };
    std::vector<std::string> csvs;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale);
        test::RunResult r = Vurma("--info " + Path("info.wav"), c.locale);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_NE(r.out.find(c.info), std::string::npos) << r.out;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3);
        r = Vurma("--info " + Path("info.txt"), c.locale);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find(c.refused), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find(c.refused), r.err.rfind(c.refused));  // reported once
        const std::string csv = Path("info-" + c.locale + ".csv");
        EXPECT_EQ(Vurma("--export " + csv + " " + Path("info.wav"), c.locale).exitCode, 0);
        csvs.push_back(test::ReadFile(csv));
    }
    EXPECT_FALSE(csvs[0].empty());
    EXPECT_EQ(csvs[0], csvs[1]);
}

TEST_F(ExportCli, SpectrogramOfSilenceIsTheFloorColour) {
    test::WriteWav(Path("silence.wav"), 2, 16, 22050, std::vector<std::int32_t>(2 * 22050, 0));
    const std::string png = Path("silence.png");
    const test::RunResult r =
        Vurma("--spectrogram " + png + " --size 300x200 --floor -90 --log " + Path("silence.wav"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const QImage image(QString::fromStdString(png));
    ASSERT_EQ(image.size(), QSize(300, 200));
    const QRect plot = display::SpectrogramPlotRect(image.size());
    const QRgb floor = 0xFF000000u | display::SpectrogramColour(-90, -90, 0);
    for (const QPoint& at : {plot.topLeft(), plot.center(), plot.bottomRight()})
        EXPECT_EQ(image.pixel(at), floor) << at.x() << "," << at.y();
}

TEST_F(ExportCli, SpectrogramBatchWritesTheGoodFilesAndNamesTheBadOne) {
    const std::string dir = Path("pictures");
    std::filesystem::create_directory(dir);
    std::ofstream(Path("bad.mp3")) << "not sound\n";
    // A second file of the same name is refused, not written over the first.
    std::filesystem::create_directory(Path("other"));
    std::ofstream(Path("other/tone.wav")) << "not sound either\n";
    const test::RunResult r =
        Vurma("--spectrogram " + dir + " " + Path("tone.wav") + " " + Path("bad.mp3") + " " +
              Path("short.wav") + " " + Path("other/tone.wav"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("bad.mp3: このﾌｧｲﾙは処理できません"), std::string::npos) << r.err;
    // Told once, on the line that names it.
    const std::size_t first = r.err.find("このﾌｧｲﾙは処理できません");
    EXPECT_EQ(r.err.find("このﾌｧｲﾙは処理できません", first + 1), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("other/tone.wav: another file of this batch"), std::string::npos) << r.err;
    EXPECT_EQ(QImage(QString::fromStdString(dir + "/tone.wav.png")).size(), QSize(800, 500));
    EXPECT_TRUE(Exists(dir + "/short.wav.png"));
    EXPECT_FALSE(Exists(dir + "/bad.mp3.png"));
}

// Each bad value is named on the usage line, with exit code 2.
TEST_F(ExportCli, SpectrogramNamesTheBadValue) {
    const struct {
        const char* options;
        const char* named;
    } cases[] = {{"--window kaiser", "kaiser"}, {"--channels both", "both"}, {"--fft 128", "128"},
                 {"--fft 32768", "32768"},      {"--size 10x10", "10x10"},   {"--channels 2", "2"}};
    for (const auto& c : cases) {
        const test::RunResult r =
            Vurma("--spectrogram " + Path("bad.png") + " " + c.options + " " + Path("tone.wav"));
        EXPECT_EQ(r.exitCode, 2) << c.options;
        EXPECT_NE(r.err.find(std::string(", not ") + c.named), std::string::npos) << r.err;
    }
    EXPECT_FALSE(Exists(Path("bad.png")));
}

// A left-only -20 dBFS 1 kHz tone in a 24-bit stereo file, every channel in
// a strip: the tone in L only. A file too short for any frame still gets its
// picture (axes and words) and exit code 1; an 18 ms click gets a picture.
TEST_F(ExportCli, SpectrogramStripsAndFloorOfAQuietTone) {
    std::vector<std::int32_t> samples;
    for (const std::int32_t left : test::Sine(1, 48000, 48000, 1000, 0.1 * 8388607)) {
        samples.push_back(left);
        samples.push_back(0);
    }
    test::WriteWav(Path("quiet24.wav"), 2, 24, 48000, samples);
    const std::string png = Path("quiet24.png");
    test::RunResult r = Vurma("--spectrogram " + png + " --channels all --floor -100 --caption " +
                              Path("quiet24.wav"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const QImage image(QString::fromStdString(png));
    const QRect plot = display::SpectrogramPlotRect(image.size(), true);
    const QRgb floor = 0xFF000000u | display::SpectrogramColour(-100, -100, 0);
    // The tone in L only; how clean its floor is gets checked where the levels are computed.
    for (int strip = 0; strip < 2; ++strip) {
        const QRect rect = display::SpectrogramStripRect(plot, 2, strip);
        int bright = 0;
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            bright += image.pixel(rect.center().x(), y) != floor;
        EXPECT_EQ(bright > 0, strip == 0);
    }

    std::vector<std::int32_t> click(794, 0);  // 18 ms at 44.1 kHz
    click[400] = 30000;
    test::WriteWav(Path("click.wav"), 1, 16, 44100, click);
    r = Vurma("--spectrogram " + Path("click.png") + " " + Path("click.wav"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const QImage clickImage(QString::fromStdString(Path("click.png")));
    EXPECT_NE(clickImage.pixel(display::SpectrogramPlotRect(clickImage.size()).center()),
              display::kNoLevelColour);

    test::WriteWav(Path("tiny.wav"), 1, 16, 44100, std::vector<std::int32_t>(200, 1000));
    r = Vurma("--spectrogram " + Path("tiny.png") + " " + Path("tiny.wav"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("録音が短すぎて分析できません"), std::string::npos) << r.err;
    EXPECT_EQ(QImage(QString::fromStdString(Path("tiny.png"))).size(), QSize(800, 500));
}

}  // namespace
}  // namespace vurma
