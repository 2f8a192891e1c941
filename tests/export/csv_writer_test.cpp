#include "export/csv_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "analysis/fft.h"
#include "analysis/report_error.h"
#include "test_support.h"

namespace vurma {
namespace {

// Mono 8-bit file at 8000 Hz, start 0, gain 1, N = 512, "Humming", peak on bin 64.
CsvInput ToneInput(std::vector<double>& db) {
    db.assign(kSpectrumSlots, 0.0);
    for (int i = 0; i < kSpectrumSlots; ++i) db[i] = -40.0 - 0.25 * i;
    db[3] = -std::numeric_limits<double>::infinity();
    db[5] = -12.5;
    db[64] = -3.0;
    CsvInput in;
    in.mediaPath = "/home/user/録音/tone.wav";
    in.infoText = "2026年12月06日 20時11分\nﾓﾉﾗﾙ 8ﾋﾞｯﾄ  8.000KHz\n00分03秒000";
    in.startText = "  0.000";
    in.gain = 1;
    in.fftSize = 512;
    in.windowName = "Humming";
    in.peakText = "  -3.00dB@ 1000Hz";
    in.noteText = " ｵｸﾀｰﾌﾞ 4   ｼ";
    in.sampleRate = 8000;
    in.spectrumDb = db.data();
    return in;
}

using test::Lines;

TEST(CsvText, HeaderAndRowsOfTheToneExample) {
    std::vector<double> db;
    const std::string text = BuildCsvText(ToneInput(db));
    const std::string header =
        "[ﾌｱｲﾙ録音条件]\n"
        "tone.wav\n"
        "2026年12月06日 20時11分\n"
        "ﾓﾉﾗﾙ 8ﾋﾞｯﾄ  8.000KHz\n"
        "00分03秒000\n"
        "\n"
        "[分析条件]\n"
        "開始時間(s),   0.000\n"
        "増幅率, 1\n"
        "ｻﾝﾌﾟﾙ数, 512\n"
        "窓関数, Humming\n"
        "\n"
        "[分析結果]\n"
        "ﾋﾟｰｸ値,   -3.00dB@ 1000Hz\n"
        "音階,  ｵｸﾀｰﾌﾞ 4   ｼ\n"
        "\n"
        "周波数(Hz), ﾊﾟﾜｰﾚﾍﾞﾙ(dB), 　音階　\n"
        "15.625, -40.25, \n"
        "31.25, -40.5, \n"
        "46.875, -inf, \n"
        "62.5, -41, \n"
        "78.125, -12.5,  ｵｸﾀｰﾌﾞ 1  ﾚ#\n";
    ASSERT_GE(text.size(), header.size());
    EXPECT_EQ(text.substr(0, header.size()), header);

    const auto lines = Lines(text);
    ASSERT_EQ(lines.size(), 17u + 256u);
    EXPECT_EQ(lines[17 + 63], "1000, -3,  ｵｸﾀｰﾌﾞ 4   ｼ");
    EXPECT_EQ(lines.back(), "4000, -104,  ｵｸﾀｰﾌﾞ 6   ｼ");
    EXPECT_EQ(text.back(), '\n');
}

TEST(CsvText, LargestSizeWritesHalfTheBinsUpToNyquist) {
    std::vector<double> db(kSpectrumSlots, -60.0);
    CsvInput in;
    in.fftSize = 4096;
    in.sampleRate = 44100;
    in.gain = 0.1;
    in.infoText = "date\nformat\nlength";
    in.spectrumDb = db.data();
    const auto lines = Lines(BuildCsvText(in));
    ASSERT_EQ(lines.size(), 17u + 2048u);
    EXPECT_EQ(lines[8], "増幅率, 0.1");
    // %g keeps six significant digits and no truncation of the frequency; a
    // row below 64 Hz ends in the separator of the empty third field.
    EXPECT_EQ(lines[17], "10.7666, -60, ");
    EXPECT_EQ(lines[17 + 4], "53.833, -60, ");
    EXPECT_EQ(lines[17 + 5], "64.5996, -60,  ｵｸﾀｰﾌﾞ 1  ﾄﾞ");
    EXPECT_EQ(lines.back(), "22050, -60,  ｵｸﾀｰﾌﾞ 9  ﾌｧ");
}

TEST(CsvText, DisplayTextsAreCutAtACharacterBoundary) {
    CsvInput in;
    std::string longText;
    for (int i = 0; i < 100; ++i) longText += "ｱ";  // 3 bytes each
    in.infoText = longText;
    in.peakText = longText;
    in.mediaPath = "a.wav";
    const auto lines = Lines(BuildCsvText(in));
    EXPECT_EQ(lines[2], longText.substr(0, 258));
    EXPECT_EQ(lines[11], "ﾋﾟｰｸ値, " + longText.substr(0, 258));
    EXPECT_EQ(lines.size(), 15u);  // one information line, no spectrum, no rows
}

TEST(CsvEncoding, Cp932BytesAndLineEnds) {
    EXPECT_EQ(EncodeCsvBytes("ﾌｱｲﾙ"), "\xCC\xB1\xB2\xD9");
    EXPECT_EQ(EncodeCsvBytes("　音階　"), "\x81\x40\x89\xB9\x8A\x4B\x81\x40");
    // The information text's own line breaks become CR LF; CR LF stays as it is.
    EXPECT_EQ(EncodeCsvBytes("a\nb\r\nc\n\n"), "a\r\nb\r\nc\r\n\r\n");
}

TEST(CsvEncoding, UnconvertibleCharactersBecomeQuestionMarks) {
    // Hangul, an emoji, a stray byte and a cut sequence at the end: one "?" each,
    // and the rest of the line is kept.
    EXPECT_EQ(EncodeCsvBytes("a\xED\x95\x9C"
                             "b\xF0\x9F\x98\x80"
                             "c\xFF"
                             "d\n"),
              "a?b?c?d\r\n");
    EXPECT_EQ(EncodeCsvBytes("ｱ\xE3\x81"), "\xB1?");
    // Long text passes the converter's buffer boundary intact.
    std::string many;
    for (int i = 0; i < 5000; ++i) many += "ｱ한";
    EXPECT_EQ(EncodeCsvBytes(many).substr(9996), "\xB1?\xB1?");
}

TEST(CsvName, ExtensionReplacedOrAppended) {
    // A dotted folder is no extension; leading dots belong to the name.
    for (auto [path, name] : {std::pair{"song.mp3", "song.csv"},
                              {"/music.d/take", "take.csv"},
                              {"/m/a.b.flac", "a.b.csv"},
                              {"/m/.hidden", ".hidden.csv"},
                              {"/m/.hidden.wav", ".hidden.csv"},
                              {"/m/name.", "name.csv"},
                              {"/m/録音.wav", "録音.csv"},
                              {"/m/", ""}})
        EXPECT_EQ(DefaultCsvName(path), name) << path;
}

// A fresh folder per test, open to everyone so that an unprivileged child can
// write beside the files it must not touch.
class CsvFile : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(::chmod(dir_.c_str(), 0777), 0); }

    static void Put(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::vector<std::string> Entries(const std::string& dir) {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Runs `body` without the right to bypass file permissions: as the user
    // "nobody" in a child process when the tests run as root. `body` returns
    // 0 when every check inside it held.
    static int RunUnprivileged(const std::function<int()>& body) {
        if (::geteuid() != 0) return body();
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(90);
            ::_exit(body());
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
    }

    test::ScratchDir scratch_{"csv"};
    const std::string dir_ = scratch_.path;
    test::ReportRecorder rec_;
    std::vector<std::string>& reports_ = rec_.texts;
};

TEST_F(CsvFile, WritesCp932AndReplacesTheOldFileKeepingItsMode) {
    const std::string path = dir_ + "/out.csv";
    Put(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(WriteCsvFile(path, "new\n"), kCsvWriteOk);
    EXPECT_EQ(test::ReadFile(path), "new\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Entries(dir_), std::vector<std::string>{"out.csv"});  // no temporary left
    EXPECT_TRUE(reports_.empty());
}

TEST_F(CsvFile, SymbolicLinkIsFollowed) {
    Put(dir_ + "/real.csv", "old");
    ASSERT_EQ(::symlink("real.csv", (dir_ + "/link.csv").c_str()), 0);
    ASSERT_EQ(WriteCsvFile(dir_ + "/link.csv", "a\n"), kCsvWriteOk);
    EXPECT_EQ(test::ReadFile(dir_ + "/real.csv"), "a\r\n");
    EXPECT_TRUE(std::filesystem::is_symlink(dir_ + "/link.csv"));
}

TEST_F(CsvFile, FailuresAreReportedWithThePath) {
    ASSERT_EQ(::mkdir((dir_ + "/sub").c_str(), 0777), 0);
    const struct {
        std::string path;
        int result;
        std::string message;
    } cases[] = {
        {dir_ + "/none/out.csv", kCsvCannotCreate, "ﾌｧｲﾙを作成できません。  \n"},
        {dir_ + "/sub", kCsvCannotCreate, "ﾌｧｲﾙを作成できません。  \n"},  // a folder
        {"/dev/full", kCsvDiskFull, "ﾃﾞｨｽｸの空き容量が不足しています。  \n"},
    };
    for (const auto& c : cases) {
        reports_.clear();
        EXPECT_EQ(WriteCsvFile(c.path, "a\n"), c.result);
        EXPECT_EQ(reports_, std::vector<std::string>{c.message + c.path});
    }
    EXPECT_EQ(Entries(dir_), std::vector<std::string>{"sub"});  // nothing left behind
    EXPECT_TRUE(Entries(dir_ + "/sub").empty());
    reports_.clear();
    EXPECT_EQ(WriteCsvFile("/dev/null", "a\n"), kCsvWriteOk);  // devices take the text
    EXPECT_TRUE(reports_.empty());
}

TEST_F(CsvFile, ReadOnlyFolderAndReadOnlyFileKeepTheOldFile) {
    const std::string open = dir_ + "/open";
    const std::string locked = dir_ + "/locked";
    ASSERT_EQ(::mkdir(open.c_str(), 0777), 0);
    ASSERT_EQ(::mkdir(locked.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0777), 0);  // mkdir applies the umask
    Put(locked + "/out.csv", "old");
    ASSERT_EQ(::chmod((locked + "/out.csv").c_str(), 0666), 0);
    ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
    Put(open + "/ro.csv", "old");
    ASSERT_EQ(::chmod((open + "/ro.csv").c_str(), 0444), 0);

    const int failed = RunUnprivileged([&] {
        std::vector<std::string> seen;
        SetReportSink([&](const std::string& t) { seen.push_back(t); });
        // The same user can write beside them: the refusals below are about permissions.
        const bool ok = WriteCsvFile(open + "/fresh.csv", "a\n") == kCsvWriteOk &&
                        WriteCsvFile(locked + "/out.csv", "new\n") == kCsvCannotCreate &&
                        WriteCsvFile(open + "/ro.csv", "new\n") == kCsvCannotWrite;
        const std::vector<std::string> expected = {
            "ﾌｧｲﾙを作成できません。  \n" + locked + "/out.csv",
            "ﾌｧｲﾙに書き込めません。  \n" + open + "/ro.csv"};
        return ok && seen == expected ? 0 : 1;
    });
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(test::ReadFile(locked + "/out.csv"), "old");
    EXPECT_EQ(test::ReadFile(open + "/ro.csv"), "old");
    EXPECT_EQ(Entries(locked), std::vector<std::string>{"out.csv"});
    EXPECT_EQ(Entries(open), (std::vector<std::string>{"fresh.csv", "ro.csv"}));
}

}  // namespace
}  // namespace vurma
