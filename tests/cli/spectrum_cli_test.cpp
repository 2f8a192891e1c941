// Runs `vurma --spectrum` on WAV files written here: the CSV, the peak
// lines, spans, channels, batches and every kind of bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "test_media.h"
#include "test_support.h"

namespace vurma {
namespace {

// Stereo 16-bit at 44.1 kHz: `left` and `right` give the sample at frame i.
void WriteStereo(const std::string& path, int frames, double (*left)(int), double (*right)(int)) {
    std::vector<std::int32_t> samples;
    for (int i = 0; i < frames; ++i) {
        samples.push_back(static_cast<std::int32_t>(std::lround(left(i) * 32767)));
        samples.push_back(static_cast<std::int32_t>(std::lround(right(i) * 32767)));
    }
    test::WriteWav(path, 2, 16, 44100, samples);
}

double Tone(int i, double hz) { return 0.5 * std::sin(2 * std::numbers::pi * hz * i / 44100); }

class SpectrumCli : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<test::ScratchDir>("spectrum-cli");
        // Five seconds: 1000.3 Hz on the left only for three, then 440 Hz
        // on both sides.
        WriteStereo(
            Path("two.wav"), 5 * 44100,
            [](int i) { return i < 3 * 44100 ? Tone(i, 1000.3) : Tone(i, 440); },
            [](int i) { return i < 3 * 44100 ? 0.0 : Tone(i, 440); });
        test::WriteWav(Path("mono.wav"), 1, 16, 44100, test::Sine(1, 44100, 44100, 440, 16384));
        test::WriteWav(Path("short.wav"), 1, 16, 44100, test::Sine(1, 44100, 1000, 440, 16384));
    }
    static void TearDownTestSuite() { dir_.reset(); }
    static std::string Path(const std::string& name) { return *dir_ / name; }

    static test::RunResult Vurma(const std::string& args) {
        return test::RunProgram(VURMA_EXE, args, "en_US.UTF-8", dir_->path);
    }

    static std::unique_ptr<test::ScratchDir> dir_;
};
std::unique_ptr<test::ScratchDir> SpectrumCli::dir_;

// "f\tlevel\tnote\tcents" -> its fields.
std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t at = 0;
    for (std::size_t tab; (tab = line.find('\t', at)) != std::string::npos; at = tab + 1)
        fields.push_back(line.substr(at, tab - at));
    fields.push_back(line.substr(at));
    return fields;
}

TEST_F(SpectrumCli, SpanPeaksAndColumns) {
    // The first three seconds: the left-only tone, found to within 0.05 Hz.
    const std::string csv = Path("first.csv");
    test::RunResult r =
        Vurma("--spectrum '" + csv + "' --to 3 --fft 65536 --peaks 1 --channels all '" +
              Path("two.wav") + "'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> peak = Fields(test::Lines(r.out).at(0));
    ASSERT_EQ(peak.size(), 4u) << r.out;
    EXPECT_NEAR(std::stod(peak[0]), 1000.3, 0.05);
    EXPECT_NEAR(std::stod(peak[1]), -12.04, 0.1);  // the mix: half the left
    EXPECT_EQ(peak[2], "B5");
    const std::vector<std::string> lines = test::Lines(test::ReadFile(csv));
    ASSERT_EQ(lines.size(), 1u + 32769u);
    EXPECT_EQ(lines[0],
              "frequency_hz,average_dbfs_mix,max_dbfs_mix,average_dbfs_left,max_dbfs_left,"
              "average_dbfs_right,max_dbfs_right,average_dbfs_mid,max_dbfs_mid,"
              "average_dbfs_side,max_dbfs_side");
    // Near the tone: loud on the left, the floor on the silent right.
    std::vector<std::string> cells;
    std::stringstream row(lines.at(1 + 1487));
    for (std::string cell; std::getline(row, cell, ',');) cells.push_back(cell);
    ASSERT_EQ(cells.size(), 11u);
    EXPECT_GT(std::stod(cells[3]), -10) << lines[1 + 1487];
    EXPECT_EQ(cells[5], "-200.000");
    EXPECT_EQ(cells[6], "-200.000");

    // The rest, at A4 = 440 and at 430; CSV to stdout.
    r = Vurma("--spectrum '" + Path("second.csv") + "' --from 3 --peaks 1 '" + Path("two.wav") +
              "'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    peak = Fields(test::Lines(r.out).at(0));
    EXPECT_EQ(peak[2] + " " + peak[3], "A4 +0");
    r = Vurma("--spectrum '" + Path("second.csv") + "' --from=3 --fft 32768 --peaks 1 --a4 430 '" +
              Path("two.wav") + "'");
    peak = Fields(test::Lines(r.out).at(0));
    EXPECT_EQ(peak[2] + " " + peak[3], "A4 +40");
    r = Vurma("--spectrum - --fft 512 --window flat-top '" + Path("mono.wav") + "'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(test::Lines(r.out).size(), 1u + 257u);
    EXPECT_EQ(test::Lines(r.out)[0], "frequency_hz,average_dbfs,max_dbfs");
}

TEST_F(SpectrumCli, BadInputExitsTwoNamingTheValue) {
    const std::string two = " '" + Path("two.wav") + "'";
    const std::string out = "--spectrum '" + Path("bad.csv") + "' ";
    const struct {
        std::string args, named;
    } cases[] = {
        {out + "--from 1.5 --to 0.5" + two, "1.5"},
        {out + "--from 9" + two, "9"},
        {out + "--from -1" + two, "-1"},
        {out + "--to -2" + two, "-2"},
        {out + "--window kaiser" + two, "kaiser"},
        {out + "--channels left,centre" + two, "centre"},
        {out + "--fft 1000" + two, "1000"},
        {out + "--fft 131072" + two, "131072"},
        {out + "--fft 256" + two, "256"},
        {out + "--a4 399" + two, "399"},
        {out + "--peaks 0" + two, "0"},
        {out + "--channels right '" + Path("mono.wav") + "'", "right"},
        {"--spectrum - --peaks 3" + two, "--peaks"},
        {out + "--colour red" + two, "--colour"},
    };
    for (const auto& c : cases) {
        const test::RunResult r = Vurma(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args;
        EXPECT_NE(r.err.find(c.named), std::string::npos) << c.args << "\n" << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(Path("bad.csv")));
}

TEST_F(SpectrumCli, TooShortMissingFilesAndBatches) {
    // Shorter than one frame: said so, nothing written, exit 1.
    test::RunResult r =
        Vurma("--spectrum '" + Path("short.csv") + "' --fft 2048 '" + Path("short.wav") + "'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("shorter than one FFT frame (2048"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(Path("short.csv")));
    r = Vurma("--spectrum '" + Path("short.csv") + "' --fft 512 '" + Path("short.wav") + "'");
    EXPECT_EQ(r.exitCode, 0) << r.err;

    // A folder: each file's CSV; a missing file fails alone.
    const std::string folder = Path("batch");
    std::filesystem::create_directory(folder);
    r = Vurma("--spectrum '" + folder + "' --peaks 1 '" + Path("two.wav") + "' '" +
              Path("none.wav") + "' '" + Path("mono.wav") + "'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(std::filesystem::exists(folder + "/two.wav.csv"));
    EXPECT_TRUE(std::filesystem::exists(folder + "/mono.wav.csv"));
    EXPECT_FALSE(std::filesystem::exists(folder + "/none.wav.csv"));
    EXPECT_NE(r.out.find(Path("mono.wav")), std::string::npos) << r.out;
    // The failure is one line that names the file.
    EXPECT_EQ(test::Lines(r.err).size(), 1u) << r.err;
    EXPECT_EQ(r.err.rfind("vurma: " + Path("none.wav") + ": ", 0), 0u) << r.err;

    // The same name twice: the second is refused, not written over the first.
    r = Vurma("--spectrum '" + folder + "' '" + Path("two.wav") + "' '" + Path("two.wav") + "'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("already written as"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace vurma
