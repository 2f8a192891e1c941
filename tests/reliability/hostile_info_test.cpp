// The built program's `vurma --info` on odd and hostile files: every one
// ends in the recording information or in the program's own message, with
// the exit status to match, and never in a crash or a hang.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "hostile_corpus.h"

namespace vurma::reliability {
namespace {

struct RunResult {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

std::string ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

RunResult RunInfo(const TempDir& dir, const std::string& path) {
    const std::string out = dir.File("info.out");
    const std::string err = dir.File("info.err");
    // A hang is a failure too: the load of any of these files is quick.
    const std::string cmd = "timeout 60 " + ShellQuote(VURMA_EXE) + " --info " + ShellQuote(path) +
                            " >" + ShellQuote(out) + " 2>" + ShellQuote(err);
    const int raw = std::system(cmd.c_str());
    RunResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadAll(out);
    r.err = ReadAll(err);
    return r;
}

// What --info must answer for one file.
struct Case {
    std::string name;                               // file name in the temporary folder
    std::function<bool(const std::string&)> write;  // writes the file; false when it cannot
    std::string message;                            // refusal message; empty for a clean load
    std::string format;                             // second info line on a clean load
    std::string length;                             // third info line on a clean load
};

std::function<bool(const std::string&)> Wav(WavSpec spec) {
    return [spec](const std::string& path) { return WriteWav(path, spec); };
}

std::vector<Case> Cases() {
    WavSpec claimsMore;  // 0.1 s of sound, the header says 100 MB follow
    claimsMore.claimedDataBytes = 100000000;
    WavSpec allOnes;  // the size field of a stream whose length was unknown
    allOnes.claimedDataBytes = 0xFFFFFFFF;
    WavSpec truncated;  // cut in the middle of frame 2205
    truncated.keepBytes = 44 + 2205 * 4 + 3;
    WavSpec hugeDuration;  // a byte rate of 1 makes 17640 bytes last 294 minutes
    hugeDuration.claimedByteRate = 1;
    WavSpec mono;
    mono.channels = 1;
    WavSpec eight;
    eight.channels = 8;
    eight.frames = 2205;
    WavSpec low;
    low.rate = 8000;
    low.frames = 1600;
    WavSpec high;
    high.rate = 192000;
    high.frames = 38400;
    WavSpec bytes8;
    bytes8.bits = 8;
    WavSpec shortWav;
    shortWav.frames = 300;
    WavSpec exact;
    exact.frames = 512;
    WavSpec wide;
    wide.bits = 24;

    const auto bytes = [](std::string content) {
        return [content](const std::string& path) { return WriteBytes(path, content); };
    };
    return {
        {"empty.wav", bytes(""), kMsgCannotProcess, "", ""},
        {"random.wav", bytes(RandomBytes(20000, 1)), kMsgCannotProcess, "", ""},
        {"random.mp3", bytes(RandomBytes(20000, 2)), kMsgCannotProcess, "", ""},
        {"random.mp4", bytes(RandomBytes(20000, 3)), kMsgCannotProcess, "", ""},
        {"header only.wav", bytes(WavBytes(WavSpec{}).substr(0, 44)), "", "ｽﾃﾚｵ 16ﾋﾞｯﾄ 44.100KHz",
         "00分00秒000"},
        {"folder.wav",
         [](const std::string& path) { return std::filesystem::create_directory(path); },
         kMsgCannotProcess, "", ""},
        {"missing.wav", [](const std::string&) { return true; }, kMsgCannotProcess, "", ""},
        {"no sound.avi", WriteSilentVideo, kMsgNoSound, "", ""},
        {"24bit.wav", Wav(wide), "24ﾋﾞｯﾄのｻﾝﾌﾟﾙは処理できません。  ", "", ""},
        {"claims more.wav", Wav(claimsMore), "", "ｽﾃﾚｵ 16ﾋﾞｯﾄ 44.100KHz", "00分00秒100"},
        {"size ffffffff.wav", Wav(allOnes), "", "ｽﾃﾚｵ 16ﾋﾞｯﾄ 44.100KHz", "00分00秒100"},
        {"truncated.wav", Wav(truncated), "", "ｽﾃﾚｵ 16ﾋﾞｯﾄ 44.100KHz", "00分00秒050"},
        {"huge duration.wav", Wav(hugeDuration), "", "ｽﾃﾚｵ 16ﾋﾞｯﾄ 44.100KHz", "294分00秒000"},
        {"a b, c 日本語 ﾃｽﾄ 🎵.wav", Wav(WavSpec{}), "", "ｽﾃﾚｵ 16ﾋﾞｯﾄ 44.100KHz", "00分00秒100"},
        {"mono.wav", Wav(mono), "", "ﾓﾉﾗﾙ 16ﾋﾞｯﾄ 44.100KHz", "00分00秒100"},
        {"eight.wav", Wav(eight), "", "8 ﾁｬﾈﾙ 16ﾋﾞｯﾄ 44.100KHz", "00分00秒050"},
        {"8k.wav", Wav(low), "", "ｽﾃﾚｵ 16ﾋﾞｯﾄ  8.000KHz", "00分00秒200"},
        {"192k.wav", Wav(high), "", "ｽﾃﾚｵ 16ﾋﾞｯﾄ 192.000KHz", "00分00秒200"},
        {"8bit.wav", Wav(bytes8), "", "ｽﾃﾚｵ 8ﾋﾞｯﾄ 44.100KHz", "00分00秒100"},
        {"300 frames.wav", Wav(shortWav), "", "ｽﾃﾚｵ 16ﾋﾞｯﾄ 44.100KHz", "00分00秒006"},
        {"512 frames.wav", Wav(exact), "", "ｽﾃﾚｵ 16ﾋﾞｯﾄ 44.100KHz", "00分00秒011"},
        {"tone.mp3", [](const std::string& path) { return WriteMp3(path, 1.0); }, "",
         "ｽﾃﾚｵ 16ﾋﾞｯﾄ 44.100KHz", "00分01秒071"},
        {"with sound.avi", WriteVideoWithSound, "", "ｽﾃﾚｵ 16ﾋﾞｯﾄ 44.100KHz", "00分00秒400"},
    };
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream s(text);
    for (std::string line; std::getline(s, line);) lines.push_back(line);
    return lines;
}

TEST(HostileInfo, EveryFileEndsInItsInformationOrItsMessage) {
    TempDir dir("vurma_hostile_info");
    ASSERT_FALSE(dir.path().empty());
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.File(c.name);
        ASSERT_TRUE(c.write(path));
        const RunResult r = RunInfo(dir, path);
        if (!c.message.empty()) {
            EXPECT_EQ(r.status, 1);
            EXPECT_TRUE(r.out.empty()) << r.out;
            // The message as the program defines it, on a line of its own.
            EXPECT_NE(r.err.find(c.message + "\n"), std::string::npos) << r.err;
            continue;
        }
        EXPECT_EQ(r.status, 0) << r.err;
        const std::vector<std::string> lines = Lines(r.out);
        ASSERT_EQ(lines.size(), 3u) << r.out;
        EXPECT_FALSE(lines[0].empty());  // the file's date
        EXPECT_EQ(lines[1], c.format);
        if (!c.length.empty()) {
            EXPECT_EQ(lines[2], c.length);
        }
        EXPECT_EQ(r.err.find("FAILED"), std::string::npos) << r.err;
    }
}

// No header states the length of this MP3 (variable bit rate, no header
// frame): its whole length must still be found, since it sizes the capture.
TEST(HostileInfo, AnMp3WithoutALengthHeaderGetsItsWholeLength) {
    TempDir dir("vurma_hostile_mp3");
    const std::string path = dir.File("plain.mp3");
    ASSERT_TRUE(WriteMp3(path, 1.0, false));
    const RunResult r = RunInfo(dir, path);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    EXPECT_EQ(lines[2].rfind("00分01秒", 0), 0u) << lines[2];  // 43 x 1024 frames and padding
}

TEST(HostileInfo, AFileWithoutReadPermissionIsRefused) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not stop root from reading";
    TempDir dir("vurma_hostile_perm");
    const std::string path = dir.File("locked.wav");
    ASSERT_TRUE(WriteWav(path, WavSpec{}));
    std::filesystem::permissions(path, std::filesystem::perms::none);
    const RunResult r = RunInfo(dir, path);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(std::string(kMsgCannotProcess) + "\n"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace vurma::reliability
