// Runs `vurma --export` on WAV files written here and checks exit codes,
// messages and the CSV file.
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Read(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// 16-bit PCM WAV with the header written field by field.
void WriteWav(const std::string& path, int rate, int channels,
              const std::vector<std::int16_t>& samples) {
    std::ofstream f(path, std::ios::binary);
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) f.put(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    auto u16 = [&](std::uint16_t v) {
        f.put(static_cast<char>(v & 0xFF));
        f.put(static_cast<char>(v >> 8));
    };
    const std::uint32_t dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    f.write("RIFF", 4);
    u32(36 + dataBytes);
    f.write("WAVEfmt ", 8);
    u32(16);
    u16(1);  // PCM
    u16(static_cast<std::uint16_t>(channels));
    u32(static_cast<std::uint32_t>(rate));
    u32(static_cast<std::uint32_t>(rate * channels * 2));
    u16(static_cast<std::uint16_t>(channels * 2));
    u16(16);
    f.write("data", 4);
    u32(dataBytes);
    for (std::int16_t s : samples) u16(static_cast<std::uint16_t>(s));
}

// CP932 with CR LF back to UTF-8 with LF.
std::string FromCsvBytes(const std::string& bytes) {
    std::string crlfLess;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        crlfLess += bytes[i];
    }
    iconv_t cd = ::iconv_open("UTF-8", "CP932");
    std::string out(crlfLess.size() * 3 + 16, '\0');
    char* in = crlfLess.data();
    std::size_t inLeft = crlfLess.size();
    char* o = out.data();
    std::size_t outLeft = out.size();
    const std::size_t rc = ::iconv(cd, &in, &inLeft, &o, &outLeft);
    ::iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1)) return "<not CP932>";
    out.resize(out.size() - outLeft);
    return out;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream s(text);
    for (std::string line; std::getline(s, line);) lines.push_back(line);
    return lines;
}

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class ExportCli : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        const char* base = std::getenv("VURMA_TEST_TMP");
        std::string root = base != nullptr ? base : "/tmp";
        ::mkdir(root.c_str(), 0777);
        std::string pattern = root + "/cli-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;

        // One second of a 1000 Hz tone at half scale with one full-scale
        // click at sample 30000.
        std::vector<std::int16_t> tone(44100);
        for (std::size_t i = 0; i < tone.size(); ++i) {
            tone[i] = static_cast<std::int16_t>(
                std::lround(16383.0 * std::sin(2 * M_PI * 1000.0 * i / 44100.0)));
        }
        tone[30000] = 32767;
        WriteWav(dir_ + "/tone.wav", 44100, 1, tone);
        WriteWav(dir_ + "/short.wav", 8000, 1, std::vector<std::int16_t>(511, 1000));
    }
    static void TearDownTestSuite() {
        const std::string cmd = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }

    static RunResult Vurma(const std::string& args) {
        RunResult r;
        const std::string out = dir_ + "/stdout.txt";
        const std::string err = dir_ + "/stderr.txt";
        const std::string cmd =
            std::string("'") + VURMA_EXE + "' " + args + " >'" + out + "' 2>'" + err + "'";
        const int status = std::system(cmd.c_str());
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = Read(out);
        r.err = Read(err);
        return r;
    }

    static std::string dir_;
};
std::string ExportCli::dir_;

TEST_F(ExportCli, ToneAtAGivenStartWithTheWindowDefaults) {
    const std::string csv = dir_ + "/tone.csv";
    const RunResult r = Vurma("--export " + csv + " --start 0.5 " + dir_ + "/tone.wav");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");

    const std::string bytes = Read(csv);
    EXPECT_EQ(bytes.substr(0, 16), "[\xCC\xB1\xB2\xD9\x98\x5E\x89\xB9\x8F\xF0\x8C\x8F]\r\n");
    const auto lines = Lines(FromCsvBytes(bytes));
    ASSERT_EQ(lines.size(), 17u + 1024u);
    EXPECT_EQ(lines[1], "tone.wav");
    EXPECT_EQ(lines[3], "ﾓﾉﾗﾙ 16ﾋﾞｯﾄ 44.100KHz");
    EXPECT_EQ(lines[7], "開始時間(s),   0.500");
    EXPECT_EQ(lines[8], "増幅率, 1");
    EXPECT_EQ(lines[9], "ｻﾝﾌﾟﾙ数, 2048");
    EXPECT_EQ(lines[10], "窓関数, Humming");
    EXPECT_EQ(lines[13].substr(lines[13].size() - 8), "@  990Hz") << lines[13];
    EXPECT_EQ(lines[14], "音階,  ｵｸﾀｰﾌﾞ 4   ｼ");
    EXPECT_EQ(lines[17].substr(0, 9), "21.5332, ");
    EXPECT_EQ(lines.back().substr(0, 7), "22050, ");
}

TEST_F(ExportCli, SearchStartsAtTheLoudestSample) {
    const std::string csv = dir_ + "/search.csv";
    const RunResult r =
        Vurma("--export=" + csv + " --search --fft 512 --window Rectangular --gain 2 " + dir_ +
              "/tone.wav");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = Lines(FromCsvBytes(Read(csv)));
    ASSERT_EQ(lines.size(), 17u + 256u);
    EXPECT_EQ(lines[7], "開始時間(s),   0.680");  // 30000 / 44100
    EXPECT_EQ(lines[8], "増幅率, 2");
    EXPECT_EQ(lines[9], "ｻﾝﾌﾟﾙ数, 512");
    EXPECT_EQ(lines[10], "窓関数, Rectangular");
    EXPECT_EQ(lines[13].substr(lines[13].size() - 8), "@ 1033Hz") << lines[13];
}

TEST_F(ExportCli, BadCommandLinesExitWithUsageCode) {
    const std::string wav = dir_ + "/tone.wav";
    const std::string out = dir_ + "/never.csv";
    const struct {
        std::string args;
        std::string message;
    } cases[] = {
        {"--export " + out + " --bogus " + wav, "vurma: unknown option --bogus"},
        {"--export " + out + " --gain 3 " + wav, "--gain takes"},
        {"--export " + out + " --fft 300 " + wav, "--fft takes"},
        {"--export " + out + " --window Hamming " + wav, "--window takes"},
        {"--export " + out + " --start -1 " + wav, "--start takes seconds, 0 or more, not -1"},
        {"--export " + out + " --start 1s " + wav, "--start takes"},
        {"--export " + out + " --start 0.1 --search " + wav, "cannot be combined"},
        {"--export " + out, "needs the media FILE"},
        {"--export " + out + " " + wav + " " + wav, "takes one FILE"},
        {"--search --export", "missing value for --export"},
    };
    for (const auto& c : cases) {
        const RunResult r = Vurma(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << "\n" << r.err;
    }
    EXPECT_FALSE(Exists(out));
}

TEST_F(ExportCli, FailuresReportTheProgramsMessageAndWriteNothing) {
    const std::string wav = dir_ + "/tone.wav";

    RunResult r = Vurma("--export " + dir_ + "/none/out.csv " + wav);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("ﾌｧｲﾙを作成できません。  "), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(dir_ + "/none"));

    r = Vurma("--export /dev/full " + wav);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("ﾃﾞｨｽｸの空き容量が不足しています。  "), std::string::npos) << r.err;

    const std::string shortCsv = dir_ + "/short.csv";
    r = Vurma("--export " + shortCsv + " " + dir_ + "/short.wav");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("ﾃﾞｰﾀのｻﾝﾌﾟﾙ数が極端に少ないので計算できません。  "), std::string::npos)
        << r.err;
    EXPECT_FALSE(Exists(shortCsv));

    const std::string lateCsv = dir_ + "/late.csv";
    r = Vurma("--export " + lateCsv + " --start 0.99 " + wav);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("開始時間が終わりに近すぎるので計算できません。  "), std::string::npos)
        << r.err;
    EXPECT_FALSE(Exists(lateCsv));

    r = Vurma("--export " + dir_ + "/missing.csv " + dir_ + "/missing.wav");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("このﾌｧｲﾙは処理できません。  "), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(dir_ + "/missing.csv"));
}

}  // namespace
