// The GStreamer engine on files written at test time.
#include <glib.h>
#include <gtest/gtest.h>

#include <algorithm>
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
#include "media/pcm_stream.h"
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

    // Loads the file, captures it as fast as it decodes and returns the bytes.
    std::vector<std::uint8_t> Capture(const std::string& path) {
        session.SetCaptureInGraph(false);
        if (session.LoadMediaFile(path, &media) < 0 || session.callback() == nullptr) return {};
        CaptureRun run(engine);
        const WaveFormat format{media.channels, media.bitsPerSample, media.sampleRate};
        if (run.Start(path, format, session.callback(), nullptr) != S_OK ||
            run.Wait() != CaptureEnd::Complete)
            return {};
        const CGrabberCallback* cb = session.callback();
        return {cb->m_pData, cb->m_pData + cb->m_nDataLen.load()};
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

// PCM keeps every byte at its own width, also 24 and 32 bits and in files
// without a channel mask; each load replaces the previous capture. (The
// information text of such files is checked on `vurma --info`.)
TEST_F(GstTest, PcmIsCapturedByteForByteAtItsOwnWidth) {
    const struct {
        int channels, bits, rate;
    } cases[] = {{1, 8, 8000},   {2, 16, 44100}, {2, 24, 48000},
                 {1, 32, 48000}, {3, 16, 48000}, {7, 24, 48000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.channels) + " x " + std::to_string(c.bits));
        const std::string path = dir + "/w" + std::to_string(c.bits) + ".wav";
        const std::vector<std::uint8_t> data = WriteWav(path, c.channels, c.bits, c.rate, 4800);
        EXPECT_EQ(Capture(path), data);
        EXPECT_EQ(media.bitsPerSample, c.bits);
        EXPECT_EQ(media.channels, c.channels);
        EXPECT_EQ(session.callback()->m_nBufSize, media.byteCount);
        EXPECT_TRUE(media.noVideo);
    }
    EXPECT_TRUE(rec.texts.empty()) << rec.texts[0];
}

TEST_F(GstTest, CompressedAudioArrivesAs16BitWithoutDither) {
    const std::string mp3 = dir + "/a.mp3", ogg = dir + "/a.ogg";
    ASSERT_TRUE(
        test::GstLaunch("audiotestsrc num-buffers=20 ! audio/x-raw,rate=44100,channels=2 ! "
                        "lamemp3enc ! xingmux ! filesink location=" +
                        mp3));
    ASSERT_TRUE(test::GstLaunch(
        "audiotestsrc wave=silence num-buffers=20 ! audio/x-raw,rate=22050,channels=1 ! "
        "audioconvert ! vorbisenc ! oggmux ! filesink location=" +
        ogg));
    ASSERT_GE(session.LoadMediaFile(mp3, &media), 0);
    EXPECT_EQ(media.bitsPerSample, 16);
    EXPECT_EQ(media.channels, 2);
    EXPECT_GT(media.duration, 3000000);
    // Digital silence stays exact zeros: no dither noise on the way to 16 bits.
    const std::vector<std::uint8_t> silence = Capture(ogg);
    EXPECT_EQ(media.bitsPerSample, 16);
    EXPECT_EQ(media.sampleRate, 22050);
    ASSERT_GT(silence.size(), 20000u);
    EXPECT_EQ(std::count(silence.begin(), silence.end(), 0), std::ssize(silence));
    EXPECT_TRUE(rec.texts.empty()) << rec.texts[0];
}

// Companded telephone audio decodes to 16-bit PCM: loaded and captured
// whole, without a complaint from the framework.
TEST_F(GstTest, MuLawAndALawWavArriveAs16Bit) {
    static int criticals = 0;
    const GLogFunc previous = g_log_set_default_handler(
        [](const gchar*, GLogLevelFlags level, const gchar* message, gpointer) {
            if ((level & (G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING)) != 0) {
                ++criticals;
                std::fprintf(stderr, "%s\n", message);
            }
        },
        nullptr);
    for (const char* encoder : {"mulawenc", "alawenc"}) {
        SCOPED_TRACE(encoder);
        const std::string path = dir + "/" + encoder + ".wav";
        ASSERT_TRUE(
            test::GstLaunch("audiotestsrc num-buffers=10 samplesperbuffer=800 ! "
                            "audio/x-raw,rate=8000,channels=2 ! " +
                            std::string(encoder) + " ! wavenc ! filesink location=" + path));
        const std::vector<std::uint8_t> pcm = Capture(path);
        EXPECT_EQ(media.bitsPerSample, 16);
        EXPECT_EQ(media.channels, 2);
        EXPECT_EQ(media.sampleRate, 8000);
        EXPECT_EQ(pcm.size(), 8000u * 2 * 2);
    }
    g_log_set_default_handler(previous, nullptr);
    EXPECT_EQ(criticals, 0);
    EXPECT_TRUE(rec.texts.empty()) << rec.texts[0];
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

// A video file shows its pictures in the video window; the capture demuxes
// them and decodes only the sound.
TEST_F(GstTest, VideoFileHasFramesAndItsCaptureTakesItsSound) {
    const std::string av = dir + "/av.mkv";
    ASSERT_TRUE(
        test::GstLaunch("matroskamux name=m ! filesink location=" + av +
                        " videotestsrc num-buffers=30 ! video/x-raw,width=80,height=60,"
                        "framerate=10/1 ! vp8enc ! m. audiotestsrc num-buffers=30 ! "
                        "audio/x-raw,rate=44100,channels=2 ! audioconvert ! vorbisenc ! m."));
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
    EXPECT_GE(Capture(av).size(), 30u * 1024 * 4);  // 30 buffers of 1024 stereo frames
    EXPECT_TRUE(rec.texts.empty()) << rec.texts[0];
}

TEST_F(GstTest, DestroyingTheGraphReleasesTheCallback) {
    const std::string path = dir + "/a.wav";
    WriteWav(path, 1, 8, 8000, 16000);
    ASSERT_FALSE(Capture(path).empty());
    CGrabberCallback* cb = session.callback();
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

// The streamed decode hands over exactly the bytes the capture keeps, in
// whole frames and file order; a file that is not media is refused.
TEST_F(GstTest, StreamedDecodeDeliversEveryFrameInOrder) {
    for (const int bits : {16, 24}) {
        SCOPED_TRACE(bits);
        const std::string path = dir + "/s" + std::to_string(bits) + ".wav";
        const std::vector<std::uint8_t> data = WriteWav(path, 2, bits, 44100, 100003);
        std::vector<std::uint8_t> got;
        std::uint64_t next = 0;
        bool inOrder = true;
        LoadedMedia loaded;
        const PcmEnd end = StreamWholeFile(
            engine, path, &loaded, [](const LoadedMedia&) { return true; },
            [&](const PcmChunk& chunk) {
                inOrder = inOrder && chunk.firstFrame == next;
                next += chunk.frames;
                got.insert(got.end(), chunk.data, chunk.data + chunk.frames * 2 * bits / 8);
                return true;
            });
        EXPECT_EQ(end, PcmEnd::Complete);
        EXPECT_EQ(loaded.bitsPerSample, bits);
        EXPECT_TRUE(inOrder);
        EXPECT_EQ(got, data);
    }
    EXPECT_TRUE(rec.texts.empty()) << rec.texts[0];

    const std::string junk = dir + "/junk.wav";
    std::ofstream(junk) << "not a sound file";
    EXPECT_EQ(StreamWholeFile(engine, junk, nullptr, {}, [](const PcmChunk&) { return true; }),
              PcmEnd::Refused);
    EXPECT_FALSE(rec.texts.empty());
}

}  // namespace
}  // namespace vurma::media
