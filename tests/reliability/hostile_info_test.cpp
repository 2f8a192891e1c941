// The built program's `vurma --info` on odd and hostile files: every one
// ends in the recording information or in the program's own message, with
// the exit status to match, and never in a crash or a hang.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "hostile_corpus.h"

namespace vurma::reliability {
namespace {

using Writer = std::function<bool(const std::string&)>;

Writer Wav(WavFormat wav) {
    return [wav](const std::string& path) { return WriteWav(path, wav); };
}
Writer Bytes(std::string content) {
    return [content](const std::string& path) { return WriteBytes(path, content); };
}

TEST(HostileInfo, EveryFileEndsInItsInformationOrItsMessage) {
    const struct {
        std::string name;
        Writer write;         // false when the file cannot be made
        std::string message;  // refusal message; empty for a clean load
        std::string length;   // start of the length line on a clean load
        std::string format = "ｽﾃﾚｵ 16ﾋﾞｯﾄ 44.100KHz";
    } cases[] = {
        {"empty.wav", Bytes(""), kMsgCannotProcess, ""},
        {"random.wav", Bytes(RandomBytes(20000, 1)), kMsgCannotProcess, ""},
        {"random.mp3", Bytes(RandomBytes(20000, 2)), kMsgCannotProcess, ""},
        {"random.mp4", Bytes(RandomBytes(20000, 3)), kMsgCannotProcess, ""},
        {"folder.wav", [](const std::string& p) { return std::filesystem::create_directory(p); },
         kMsgCannotProcess, ""},
        {"locked.wav",
         [](const std::string& p) {  // unreadable, to anyone but root
             const bool written = WriteWav(p, {});
             std::filesystem::permissions(p, std::filesystem::perms::none);
             return written;
         },
         ::geteuid() == 0 ? "" : kMsgCannotProcess, "00分00秒100"},
        {"no sound.avi", [](const std::string& p) { return WriteVideo(p, false); }, kMsgNoSound,
         ""},
        {"24bit.wav", Wav({.bits = 24}), "", "00分00秒100", "ｽﾃﾚｵ 24ﾋﾞｯﾄ 44.100KHz"},
        {"3ch.wav", Wav({.channels = 3}), "", "00分00秒100", "3 ﾁｬﾈﾙ 16ﾋﾞｯﾄ 44.100KHz"},
        {"6ch 48k.wav", Wav({.channels = 6, .rate = 48000}), "", "00分00秒091",
         "6 ﾁｬﾈﾙ 16ﾋﾞｯﾄ 48.000KHz"},
        {"8bit mono.wav", Wav({.channels = 1, .rate = 11025, .bits = 8, .frames = 22050}), "",
         "00分02秒000", "ﾓﾉﾗﾙ 8ﾋﾞｯﾄ 11.025KHz"},
        {"header only.wav", Bytes(WavBytes({}).substr(0, 44)), "", "00分00秒000"},
        // 0.1 s of sound under a header claiming 100 MB, or the size of a
        // stream whose length was unknown.
        {"claims more.wav", Wav({.claimedDataBytes = 100000000}), "", "00分00秒100"},
        {"size ffffffff.wav", Wav({.claimedDataBytes = 0xFFFFFFFF}), "", "00分00秒100"},
        {"truncated.wav", Wav({.keepBytes = 44 + 2205 * 4 + 3}), "", "00分00秒050"},
        // A byte rate of 1 makes 17640 bytes last 294 minutes.
        {"huge duration.wav", Wav({.claimedByteRate = 1}), "", "294分00秒000"},
        {"a b, c 日本語 ﾃｽﾄ 🎵.wav", Wav({}), "", "00分00秒100"},
        {"300 frames.wav", Wav({.frames = 300}), "", "00分00秒006"},
        {"512 frames.wav", Wav({.frames = 512}), "", "00分00秒011"},
        {"tone.mp3", [](const std::string& p) { return WriteMp3(p); }, "", "00分01秒071"},
        // No header states this MP3's length; all of it sizes the capture.
        {"plain.mp3", [](const std::string& p) { return WriteMp3(p, false); }, "", "00分01秒"},
        {"with sound.avi", [](const std::string& p) { return WriteVideo(p, true); }, "",
         "00分00秒400"},
    };
    test::ScratchDir dir("hostile-info");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / c.name;
        ASSERT_TRUE(c.write(path));
        // A hang is a failure too: the load of any of these files is quick.
        const int raw = std::system(("timeout 60 " + test::ProgramCommand(VURMA_EXE) + " --info " +
                                     ShellQuote(path) + " >" + ShellQuote(dir / "out") + " 2>" +
                                     ShellQuote(dir / "err"))
                                        .c_str());
        const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        const std::string out = test::ReadFile(dir / "out"), err = test::ReadFile(dir / "err");
        if (!c.message.empty()) {
            EXPECT_EQ(status, 1);
            EXPECT_TRUE(out.empty()) << out;
            // The message as the program defines it, on a line of its own,
            // then the file it is about (and the decoder's reason, if any).
            EXPECT_NE(err.find(c.message + "\n" + path + "\n"), std::string::npos) << err;
            continue;
        }
        EXPECT_EQ(status, 0) << err;
        const std::vector<std::string> lines = test::Lines(out);
        ASSERT_EQ(lines.size(), 3u) << out;
        EXPECT_NE(lines[0].find("日 "), std::string::npos) << lines[0];  // the file's date
        EXPECT_EQ(lines[1], c.format);
        EXPECT_EQ(lines[2].substr(0, c.length.size()), c.length);
        EXPECT_EQ(err.find("FAILED"), std::string::npos) << err;
    }
}

// A named pipe with no writer never delivers data: the load is refused
// after its timeout (shortened here) with the reason, instead of hanging.
TEST(HostileInfo, ANamedPipeWithoutAWriterIsRefusedAfterTheLoadTimeout) {
    test::ScratchDir dir("hostile-pipe");
    const std::string path = dir / "pipe.wav";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    const int raw = std::system(("VURMA_LOAD_TIMEOUT_MS=1000 timeout 60 " +
                                 test::ProgramCommand(VURMA_EXE) + " --info " + ShellQuote(path) +
                                 " >" + ShellQuote(dir / "out") + " 2>" + ShellQuote(dir / "err"))
                                    .c_str());
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 1);  // 124 had it hung
    const std::string err = test::ReadFile(dir / "err");
    EXPECT_NE(
        err.find(std::string(kMsgCannotProcess) + "\n" + path + "\n1秒たってもﾃﾞｰﾀが届きません。"),
        std::string::npos)
        << err;
    EXPECT_TRUE(test::ReadFile(dir / "out").empty());
}

}  // namespace
}  // namespace vurma::reliability
