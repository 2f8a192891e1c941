// The GStreamer engine on files written at test time.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/grabber_callback.h"
#include "media/media_session.h"
#include "report_recorder.h"

namespace vurma::media {
namespace {

using testing::ReportRecorder;

std::string TempDir() {
    const char* env = std::getenv("VURMA_TEST_TMP");
    std::string dir = env != nullptr ? env : "/tmp/vurma-media-test";
    ::mkdir(dir.c_str(), 0755);
    return dir;
}

// Writes a PCM WAV file of a sine per channel and returns its data chunk.
std::vector<std::uint8_t> WriteWav(const std::string& path, int channels, int bits, int rate,
                                   int frames) {
    std::vector<std::uint8_t> data;
    const int bytes = bits / 8;
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            const double v = std::sin(2 * M_PI * (220.0 * (c + 1)) * i / rate);
            if (bits == 8) {
                data.push_back(static_cast<std::uint8_t>(128 + std::lround(100 * v)));
            } else {
                const std::int32_t s =
                    static_cast<std::int32_t>(std::lround(v * (bits == 16 ? 20000 : 5000000)));
                for (int b = 0; b < bytes; ++b)
                    data.push_back(static_cast<std::uint8_t>(s >> (8 * b)));
            }
        }
    }
    auto u32 = [](std::ofstream& f, std::uint32_t v) { f.write(reinterpret_cast<char*>(&v), 4); };
    auto u16 = [](std::ofstream& f, std::uint16_t v) { f.write(reinterpret_cast<char*>(&v), 2); };
    std::ofstream f(path, std::ios::binary);
    f.write("RIFF", 4);
    u32(f, 36 + data.size());
    f.write("WAVEfmt ", 8);
    u32(f, 16);
    u16(f, 1);
    u16(f, channels);
    u32(f, rate);
    u32(f, rate * channels * bytes);
    u16(f, channels * bytes);
    u16(f, bits);
    f.write("data", 4);
    u32(f, data.size());
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return data;
}

bool GstLaunch(const std::string& pipeline) {
    return std::system(("gst-launch-1.0 -q " + pipeline + " >/dev/null 2>&1").c_str()) == 0;
}

class GstTest : public ::testing::Test {
  protected:
    GstTest() : engine(CreateGstEngine()), session(engine) {
        session.SetEventNotify([this] {
            std::lock_guard lock(mutex);
            notified = true;
            cv.notify_all();
        });
    }

    // Waits for an event with that code, draining the queue as the window does.
    bool WaitFor(long wanted, std::chrono::seconds timeout) {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (true) {
            long code = 0;
            while (session.GetEvent(&code)) {
                if (code == wanted) return true;
            }
            std::unique_lock lock(mutex);
            if (!cv.wait_until(lock, until, [this] { return notified; })) return false;
            notified = false;
        }
    }

    ReportRecorder rec;
    std::shared_ptr<IEngine> engine;
    MediaSession session;
    LoadedMedia media;
    std::mutex mutex;
    std::condition_variable cv;
    bool notified = false;
    const std::string dir = TempDir();
};

TEST_F(GstTest, PcmFormatsAndSizes) {
    const std::string m8 = dir + "/八ビット モノラル 音声ファイル.wav", s16 = dir + "/s16.wav",
                      c6 = dir + "/c6.wav";
    WriteWav(m8, 1, 8, 11025, 22050);
    WriteWav(s16, 2, 16, 44100, 132300);
    WriteWav(c6, 6, 16, 48000, 4800);
    ASSERT_EQ(session.LoadMediaFile(m8, &media), S_OK) << (rec.texts.empty() ? "" : rec.texts[0]);
    EXPECT_EQ(media.duration, 20000000);
    EXPECT_EQ(media.frameCount, 22061u);
    EXPECT_EQ(media.byteCount, 22061u);
    EXPECT_NE(media.infoText.find("\nﾓﾉﾗﾙ 8ﾋﾞｯﾄ 11.025KHz\n00分02秒000"), std::string::npos);
    EXPECT_TRUE(media.noVideo);
    EXPECT_EQ(session.video(), nullptr);
    ASSERT_EQ(session.LoadMediaFile(s16, &media), S_OK);
    EXPECT_EQ(media.frameCount, 132344u);
    EXPECT_EQ(media.byteCount, 529376u);
    ASSERT_EQ(session.LoadMediaFile(c6, &media), S_OK);
    EXPECT_NE(media.infoText.find("\n6 ﾁｬﾈﾙ 16ﾋﾞｯﾄ 48.000KHz\n00分00秒100"), std::string::npos);
    EXPECT_TRUE(rec.texts.empty());
}

TEST_F(GstTest, RefusedFiles) {
    const std::string b24 = dir + "/b24.wav", text = dir + "/t.txt", empty = dir + "/e.wav",
                      video = dir + "/v.avi";
    WriteWav(b24, 2, 24, 44100, 4410);
    std::ofstream(text) << "not a media file\n";
    std::ofstream(empty).close();
    ASSERT_TRUE(
        GstLaunch("videotestsrc num-buffers=5 ! video/x-raw,width=64,height=48 ! jpegenc ! "
                  "avimux ! filesink location=" +
                  video));
    EXPECT_EQ(session.LoadMediaFile(b24, &media), -1);
    EXPECT_EQ(media.bitsPerSample, 24);
    EXPECT_EQ(session.callback(), nullptr);
    EXPECT_LT(session.LoadMediaFile(text, &media), 0);
    EXPECT_LT(session.LoadMediaFile(empty, &media), 0);
    EXPECT_EQ(session.LoadMediaFile(video, &media), -1);
    EXPECT_TRUE(session.HasGraph());
    EXPECT_EQ(rec.texts,
              (std::vector<std::string>{
                  "24ﾋﾞｯﾄのｻﾝﾌﾟﾙは処理できません。  ", "このﾌｧｲﾙは処理できません。  ",
                  "このﾌｧｲﾙは処理できません。  ", "このﾌｧｲﾙには音声が含まれていません。  "}));
}

TEST_F(GstTest, CompressedAudioArrivesAs16Bit) {
    const std::string mp3 = dir + "/a.mp3", ogg = dir + "/a.ogg";
    ASSERT_TRUE(
        GstLaunch("audiotestsrc num-buffers=20 ! audio/x-raw,rate=44100,channels=2 ! "
                  "lamemp3enc ! xingmux ! filesink location=" +
                  mp3));
    ASSERT_TRUE(
        GstLaunch("audiotestsrc num-buffers=20 ! audio/x-raw,rate=22050,channels=1 ! "
                  "audioconvert ! vorbisenc ! oggmux ! filesink location=" +
                  ogg));
    ASSERT_GE(session.LoadMediaFile(mp3, &media), 0);
    EXPECT_EQ(media.bitsPerSample, 16);
    EXPECT_EQ(media.channels, 2);
    EXPECT_GT(media.duration, 3000000);
    ASSERT_GE(session.LoadMediaFile(ogg, &media), 0);
    EXPECT_EQ(media.bitsPerSample, 16);
    EXPECT_EQ(media.sampleRate, 22050);
    EXPECT_TRUE(rec.texts.empty()) << rec.texts[0];
}

TEST_F(GstTest, VideoFileHasAVideoWindowAndFrames) {
    const std::string av = dir + "/av.webm";
    ASSERT_TRUE(GstLaunch("webmmux name=m ! filesink location=" + av +
                          " videotestsrc num-buffers=10 ! video/x-raw,width=80,height=60,"
                          "framerate=10/1 ! vp8enc ! m. audiotestsrc num-buffers=10 ! "
                          "audioconvert ! vorbisenc ! m."));
    ASSERT_GE(session.LoadMediaFile(av, &media), 0);
    EXPECT_FALSE(media.noVideo);
    ASSERT_NE(session.video(), nullptr);
    session.RunGraph();
    session.PauseGraph();
    EXPECT_GE(session.GetState(2000), 0);
    VideoFrame frame;
    ASSERT_TRUE(session.video()->TakeFrame(&frame));
    EXPECT_EQ(frame.width, 80);
    EXPECT_EQ(frame.height, 60);
    EXPECT_GE(frame.bytes.size(), static_cast<std::size_t>(frame.stride) * 60);
}

TEST_F(GstTest, PlayedWavIsCapturedByteForByte) {
    const std::string path = dir + "/capture.wav";
    const std::vector<std::uint8_t> data = WriteWav(path, 2, 16, 44100, 26460);  // 0.6 s
    ASSERT_EQ(session.LoadMediaFile(path, &media), S_OK);
    EXPECT_EQ(session.MuteOn(), S_OK);
    ASSERT_EQ(session.RunGraph(), S_OK);
    ASSERT_TRUE(WaitFor(EC_COMPLETE, std::chrono::seconds(15)));
    CGrabberCallback* cb = session.callback();
    ASSERT_NE(cb, nullptr);
    ASSERT_EQ(cb->m_nDataLen.load(), data.size());
    EXPECT_EQ(0, std::memcmp(cb->m_pData, data.data(), data.size()));

    // Rewind and cue: run then pause, back at the start.
    cb->m_bCapture = 0;
    session.StopAndRewind();
    EXPECT_TRUE(rec.texts.empty()) << rec.texts[0];
    EXPECT_EQ(session.RunGraph(), S_OK);
    EXPECT_EQ(session.PauseGraph(), S_OK);
    EXPECT_GE(session.GetState(2000), 0);
    std::int64_t pos = -1;
    EXPECT_EQ(session.GetCurrentPosition(&pos), S_OK);
    EXPECT_LT(pos, 2000000);
    EXPECT_EQ(cb->m_nDataLen.load(), data.size());

    // A seek while paused, then play to the end again.
    EXPECT_EQ(session.SetPositions(4000000, nullptr), S_OK);
    EXPECT_EQ(session.RunGraph(), S_OK);
    EXPECT_TRUE(WaitFor(EC_COMPLETE, std::chrono::seconds(15)));
}

TEST_F(GstTest, UnsynchronisedCaptureOfASecondFileReplacesTheFirst) {
    session.SetUnsynchronised(true);
    const std::string a = dir + "/first.wav", b = dir + "/second.wav";
    WriteWav(a, 2, 16, 44100, 44100);
    const std::vector<std::uint8_t> data = WriteWav(b, 1, 8, 8000, 16000);
    ASSERT_EQ(session.LoadMediaFile(a, &media), S_OK);
    ASSERT_EQ(session.LoadMediaFile(b, &media), S_OK);
    EXPECT_EQ(media.channels, 1);
    CGrabberCallback* cb = session.callback();
    ASSERT_NE(cb, nullptr);
    EXPECT_EQ(cb->m_nDataLen.load(), 0u);
    EXPECT_EQ(cb->m_nBufSize, media.byteCount);
    ASSERT_EQ(session.RunGraph(), S_OK);
    ASSERT_TRUE(WaitFor(EC_COMPLETE, std::chrono::seconds(15)));
    ASSERT_EQ(cb->m_nDataLen.load(), data.size());
    EXPECT_EQ(0, std::memcmp(cb->m_pData, data.data(), data.size()));
    EXPECT_EQ(session.SetVolume(94), S_OK);

    // Destroying the graph releases the grabber and with it every reference
    // to the callback but the one taken here. A thread that is winding down
    // may drop the pipeline a moment after the graph is gone.
    cb->AddRef();
    session.DestroyGraph();
    EXPECT_EQ(session.callback(), nullptr);
    for (int i = 0; i < 200; ++i) {
        cb->AddRef();
        if (cb->Release() == 1) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(cb->Release(), 0u);
}

#ifdef VURMA_EXE
std::string RunVurma(const std::string& args, int* status) {
    std::string out;
    FILE* p = popen((std::string(VURMA_EXE) + " " + args + " 2>/dev/null").c_str(), "r");
    char buf[512];
    while (p != nullptr && std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
    *status = p != nullptr ? pclose(p) : -1;
    return out;
}

TEST(CommandLine, InfoPrintsThreeLinesOrRefuses) {
    const std::string dir = TempDir();
    WriteWav(dir + "/cli.wav", 2, 16, 44100, 132300);
    std::ofstream(dir + "/cli.txt") << "text\n";
    int status = 0;
    const std::string out = RunVurma("--info " + dir + "/cli.wav", &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(out.find("\nｽﾃﾚｵ 16ﾋﾞｯﾄ 44.100KHz\n00分03秒000\n"), std::string::npos) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 3);
    const std::string refused = RunVurma(
        "--info " + dir + "/cli.txt 2>&1 >/dev/null | grep -c 'このﾌｧｲﾙは処理できません'", &status);
    EXPECT_EQ(refused, "1\n");
    RunVurma("--info " + dir + "/cli.txt", &status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(RunVurma("--help", &status).find("--info FILE"), std::string::npos);
    EXPECT_EQ(status, 0);
}
#endif

}  // namespace
}  // namespace vurma::media
