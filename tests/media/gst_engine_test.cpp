// The GStreamer engine on files written at test time.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/capture_run.h"
#include "media/grabber_callback.h"
#include "media/media_session.h"
#include "test_media.h"
#include "test_support.h"

namespace vurma::media {
namespace {

// A sine per channel at a level that suits the sample size.
std::vector<std::uint8_t> WriteWav(const std::string& path, int channels, int bits, int rate,
                                   int frames) {
    const double peak = bits == 8 ? 100 : bits == 16 ? 20000 : 5000000;
    return test::WriteWav(path, channels, bits, rate,
                          test::Sine(channels, rate, frames, 220, peak));
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

    test::ReportRecorder rec;
    std::shared_ptr<IEngine> engine;
    MediaSession session;
    LoadedMedia media;
    std::mutex mutex;
    std::condition_variable cv;
    bool notified = false;
    test::ScratchDir scratch{"gst"};
    const std::string dir = scratch.path;
};

TEST_F(GstTest, PcmFormatsAndSizes) {
    const std::string m8 = dir + "/八ビット モノラル 音声ファイル.wav", s16 = dir + "/s16.wav",
                      c6 = dir + "/c6.wav";
    WriteWav(m8, 1, 8, 11025, 22050);
    WriteWav(s16, 2, 16, 44100, 132300);
    WriteWav(c6, 6, 16, 48000, 4800);
    ASSERT_EQ(session.LoadMediaFile(m8, &media), S_OK) << (rec.texts.empty() ? "" : rec.texts[0]);
    EXPECT_EQ(media.duration, 20000000);
    EXPECT_NE(media.infoText.find("\nﾓﾉﾗﾙ 8ﾋﾞｯﾄ 11.025KHz\n00分02秒000"), std::string::npos);
    EXPECT_TRUE(media.noVideo);
    EXPECT_EQ(session.video(), nullptr);
    ASSERT_EQ(session.LoadMediaFile(s16, &media), S_OK);
    EXPECT_EQ(media.byteCount, 529376u);  // 3.001 s of 4-byte frames
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
        test::GstLaunch("videotestsrc num-buffers=5 ! video/x-raw,width=64,height=48 ! jpegenc ! "
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
        test::GstLaunch("audiotestsrc num-buffers=20 ! audio/x-raw,rate=44100,channels=2 ! "
                        "lamemp3enc ! xingmux ! filesink location=" +
                        mp3));
    ASSERT_TRUE(
        test::GstLaunch("audiotestsrc num-buffers=20 ! audio/x-raw,rate=22050,channels=1 ! "
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
    ASSERT_TRUE(test::GstLaunch("webmmux name=m ! filesink location=" + av +
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

// The capture decodes apart from the graph, unpaced: the second file's
// sound byte for byte, and the sound of a video file without its pictures.
TEST_F(GstTest, CaptureRunDecodesTheLoadedFileWhole) {
    session.SetCaptureInGraph(false);
    const std::string a = dir + "/first.wav", b = dir + "/second.wav", av = dir + "/av.mkv";
    WriteWav(a, 2, 16, 44100, 44100);
    const std::vector<std::uint8_t> data = WriteWav(b, 1, 8, 8000, 16000);
    ASSERT_TRUE(
        test::GstLaunch("matroskamux name=m ! filesink location=" + av +
                        " videotestsrc num-buffers=30 ! video/x-raw,width=80,height=60,"
                        "framerate=10/1 ! vp8enc ! m. audiotestsrc num-buffers=30 ! "
                        "audio/x-raw,rate=44100,channels=2 ! audioconvert ! vorbisenc ! m."));
    ASSERT_EQ(session.LoadMediaFile(a, &media), S_OK);
    ASSERT_EQ(session.LoadMediaFile(b, &media), S_OK);
    CGrabberCallback* cb = session.callback();
    ASSERT_NE(cb, nullptr);
    EXPECT_EQ(cb->m_nBufSize, media.byteCount);
    CaptureRun run(engine);
    ASSERT_EQ(run.Start(b, {1, 8, 8000}, cb, nullptr), S_OK);
    EXPECT_EQ(run.Wait(), CaptureEnd::Complete);
    EXPECT_EQ(run.FramesCaptured(), 16000u);
    ASSERT_EQ(cb->m_nDataLen.load(), data.size());
    EXPECT_EQ(0, std::memcmp(cb->m_pData, data.data(), data.size()));
    run.Stop();

    ASSERT_EQ(session.LoadMediaFile(av, &media), S_OK);
    ASSERT_EQ(run.Start(av, {media.channels, media.bitsPerSample, media.sampleRate},
                        session.callback(), nullptr),
              S_OK);
    EXPECT_EQ(run.Wait(), CaptureEnd::Complete);
    EXPECT_GT(run.FramesCaptured(), 30000u);  // 30 buffers of 1024 frames
    run.Stop();
    ASSERT_EQ(session.LoadMediaFile(b, &media), S_OK);
    cb = session.callback();
    EXPECT_TRUE(rec.texts.empty()) << rec.texts[0];

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

}  // namespace
}  // namespace vurma::media
